// The "Fit in ... MB" field of the profile settings dialog: what OK stores,
// what the dialog shows again, and that a profile without a picture does
// not offer it.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <memory>

#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/IniFile.h"
#include "gui/WinSettings.h"
#include "tests/TestMedia.h"
#include "widgets/Theme.h"

namespace {

// Profile 0 makes a picture, profile 1 sound only.
const char* const Profiles = R"([formatInfo0]
VideoSize=320x240
VideoBitRate=512
FrameRate=25
VideoEncoder=H264
AudioBitRate=128
SampleRate=44100
AudioEncoder=AAC
Channel=stereo 2 channels
Volume=100%

[formatInfo1]
VideoSize=null
VideoEncoder=
AudioBitRate=128
SampleRate=44100
AudioEncoder=MP3
Channel=stereo 2 channels
Volume=100%
)";

TEST(FitSizeDialog, FieldStoresTheSizeForPictureProfilesOnly) {
    const auto Folder = ScratchFolder("settings_fit_size");
    TProfileFiles Files;
    Files.SettingsIni = (Folder / "settings.ini").string();
    Files.FormatIni = (Folder / "format.ini").string();
    std::ofstream(Files.FormatIni) << Profiles;
    std::vector<std::string> Shown;
    SetMessageFunction([&](const std::string&, const std::string& Text, TMessageKind) { Shown.push_back(Text); });
    ApplyTheme(0);
    QStringList Names;
    for (const char* Name : ProfileNames) Names << Name;
    auto Key = [&](int N) { return IniFile(Files.SettingsIni).ReadString(ProfileSection(N), "paraFitSize", "<none>"); };

    struct TRow {
        int Profile;
        const char* Typed;     // nullptr: the field is left as the dialog shows it
        bool Offered;          // the field is there to type in
        const char* Stored;    // the key after OK
        const char* Reopened;  // the field's text when the dialog shows again
    };
    const TRow Rows[] = {
        {0, nullptr, true, "", ""},        // empty by default: no size
        {0, "0.75", true, "0.75", "0.75"}, // typed and kept
        {0, nullptr, true, "0.75", "0.75"},
        {0, "", true, "", ""},             // emptied: no size again
        {1, nullptr, false, "<none>", ""}, // sound only: nothing offered or stored
    };
    for (const TRow& R : Rows) {
        SCOPED_TRACE(std::string("profile ") + std::to_string(R.Profile) + " typed " + (R.Typed ? R.Typed : "-"));
        auto Dialog = std::make_unique<TfrmSettings>(Files);
        Dialog->SetCatalogue(Names, R.Profile);
        Dialog->open();
        EXPECT_EQ(Dialog->edtFitSize->isVisibleTo(Dialog.get()), R.Offered);
        EXPECT_EQ(Dialog->lblFitSize->isVisibleTo(Dialog.get()), R.Offered);
        if (R.Typed) {
            Dialog->edtFitSize->clear();
            QTest::keyClicks(Dialog->edtFitSize, R.Typed);
        }
        QTest::mouseClick(Dialog->btnOk, Qt::LeftButton);
        EXPECT_FALSE(Dialog->isVisible());
        EXPECT_EQ(Key(R.Profile), R.Stored);
        Dialog = std::make_unique<TfrmSettings>(Files);
        Dialog->SetCatalogue(Names, R.Profile);
        Dialog->open();
        EXPECT_EQ(Dialog->edtFitSize->text().toStdString(), R.Reopened);
    }

    // Default forgets the size; a stored size that is no size stops OK
    // with the reason, before anything is written.
    IniFile(Files.SettingsIni).WriteString(ProfileSection(0), "paraFitSize", "2");
    TfrmSettings Dialog(Files);
    Dialog.SetCatalogue(Names, 0);
    Dialog.open();
    EXPECT_EQ(Dialog.edtFitSize->text().toStdString(), "2");
    QTest::mouseClick(Dialog.btnDefault, Qt::LeftButton);
    EXPECT_EQ(Dialog.edtFitSize->text().toStdString(), "");
    Dialog.edtFitSize->setText("0");
    QTest::mouseClick(Dialog.btnOk, Qt::LeftButton);
    EXPECT_TRUE(Dialog.isVisible());
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_NE(Shown[0].find("not a size"), std::string::npos) << Shown[0];
    EXPECT_EQ(Key(0), "2");
    SetMessageFunction({});
}

}  // namespace
