// The main window as it lives with its user: it grows and keeps its place
// and columns, counts its files, keeps its list across a restart, answers
// its keys, and every dialog answers Tab, Escape and Return.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>

#include <functional>

#include "dialogs/Directory.h"
#include "dialogs/WinAbout.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinFileInfo.h"
#include "dialogs/WinPreference.h"
#include "dialogs/WinProgress.h"
#include "dialogs/WinTrim.h"
#include "gui/WinSettings.h"
#include "tests/gui/GuiTestSupport.h"
#include "widgets/PictureView.h"

namespace {

class WindowLife : public TWindowFixture {
protected:
    // A file of a typical name in a typical folder of the scratch home.
    QString TypicalFile(const char* Name) {
        const fs::path Videos = Folder / "home" / "Videos" / "Holiday 2024";
        fs::create_directories(Videos);
        fs::copy_file(MediaPath("clip.mp4"), Videos / Name, fs::copy_options::overwrite_existing);
        return QString::fromStdString((Videos / Name).string());
    }
    void Activate(TfrmMain& W) {
        QApplication::setActiveWindow(&W);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&W));
        W.lvFiles->setFocus();
    }
};

// Runs Act on the first visible window of type T that shows within the next
// seconds, from the event loop of whatever modal loop opens it.
template <class T>
void WhenShown(QObject* Context, std::function<void(T&)> Act) {
    auto* Poll = new QTimer(Context);
    auto Tries = std::make_shared<int>(0);
    QObject::connect(Poll, &QTimer::timeout, Poll, [Poll, Tries, Act] {
        for (QWidget* W : QApplication::topLevelWidgets()) {
            if (auto* Found = qobject_cast<T*>(W); Found && Found->isVisible()) {
                Poll->stop();
                Poll->deleteLater();
                Act(*Found);
                return;
            }
        }
        if (++*Tries > 250) {
            Poll->stop();
            Poll->deleteLater();
        }
    });
    Poll->start(20);
}

}  // namespace

// The window grows from its least size with the list and the preview (whose
// picture keeps its shape), the Source column then shows whole names, and
// the next start finds the window where it was, its columns as they were.
TEST_F(WindowLife, GrowsWithItsListAndPreviewAndARestartRestoresItsPlace) {
    const QString Clip = TypicalFile("Beach day with the kids - part 2.mp4");
    const QString Name = "/Beach day with the kids - part 2.mp4";
    TfrmMain& W = OpenShown();
    ASSERT_EQ(W.AddFiles({Clip}), 1);
    const QSize List = W.lvFiles->size(), Preview = W.imgPreview->size();
    EXPECT_EQ(Preview, QSize(217, 188));
    // At the least size the file name alone is too long for its column; the
    // path is shortened in its folders first, then the name in its middle.
    const QString Least = W.lvFiles->ShownText(0, fcSource);
    EXPECT_FALSE(Least.endsWith(Name)) << Least.toStdString();
    EXPECT_TRUE(Least.endsWith(".mp4")) << Least.toStdString();

    W.resize(1280, 800);
    ASSERT_TRUE(QTest::qWaitFor([&] { return W.lvFiles->width() > List.width(); }));
    EXPECT_GT(W.lvFiles->height(), List.height());
    EXPECT_GT(W.imgPreview->width(), Preview.width());
    EXPECT_GT(W.imgPreview->height(), Preview.height());
    EXPECT_NEAR(double(W.imgPreview->width()) / W.imgPreview->height(), 217.0 / 188.0, 0.01);
    EXPECT_EQ(W.imgPreview1->size(), W.imgPreview->size());
    EXPECT_TRUE(W.lvFiles->ShownText(0, fcSource).endsWith(Name)) << W.lvFiles->ShownText(0, fcSource).toStdString();
    EXPECT_GT(W.cbOutputFormat->width(), 310);
    // Every control stays inside the window, none over another's place.
    const QRect Client = W.centralWidget()->rect();
    for (QWidget* C : std::initializer_list<QWidget*>{W.lvFiles, W.cbOutputFormat, W.edDirectory, W.lblStatus,
                                                      W.lblCount, W.btnStart})
        EXPECT_TRUE(Client.contains(C->geometry())) << C->objectName().toStdString();
    EXPECT_LE(W.lblStatus->geometry().right(), W.lblCount->geometry().left());
    EXPECT_FALSE(W.lvFiles->geometry().intersects(W.imgPreview->parentWidget()->geometry()));

    W.lvFiles->header()->resizeSection(fcLength, 95);
    W.lvFiles->header()->resizeSection(fcDestination, 240);
    W.move(60, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return W.pos() == QPoint(60, 40); }));
    const QRect Place = W.geometry();
    const QList<int> Widths = W.lvFiles->ColumnWidths();
    EXPECT_EQ(Widths[fcLength], 95);
    ASSERT_TRUE(W.close());
    Window.reset();

    TfrmMain& Again = OpenShown();
    EXPECT_EQ(Again.geometry(), Place);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 1; }));  // the kept list
    EXPECT_EQ(Again.lvFiles->ColumnWidths(), Widths);

    // Maximised it comes back maximised, its normal place kept beneath.
    Again.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Again.isMaximized(); }));
    ASSERT_TRUE(Again.close());
    Window.reset();
    TfrmMain& Third = OpenShown();
    EXPECT_TRUE(Third.isMaximized());
    EXPECT_EQ(Third.normalGeometry().size(), Place.size());
}

// The line under the list follows the rows, their checks and trims.
TEST_F(WindowLife, CountUnderTheListFollowsFilesChecksAndTrims) {
    TfrmMain& W = OpenShown();
    EXPECT_TRUE(W.CountText().isEmpty());
    const struct {
        const char* Step;
        std::function<void()> Act;
        const char* Count;
    } Steps[] = {
        {"three files of 3, 3 and 2 s", [&] { W.AddFiles(MediaList({"clip.avi", "tone.mp3", "tone.wav"})); },
         "3 files, 3 checked, 0:08"},
        {"one unchecked", [&] { W.FilesModel()->SetChecked(1, false); }, "3 files, 2 checked, 0:05"},
        {"one trimmed to a second", [&] { W.FilesModel()->SetTrimmedLength(0, 1); }, "3 files, 2 checked, 0:03"},
        {"an hour and more", [&] { W.FilesModel()->SetTrimmedLength(2, 3725); }, "3 files, 2 checked, 1:02:06"},
        {"one left", [&] {
             W.SelectRow(0);
             W.btnRemoveClick();
             W.SelectRow(0);
             W.btnRemoveClick();
         },
         "1 file, 1 checked, 1:02:05"},
        {"none", [&] { W.btnClearClick(); }, ""},
    };
    for (const auto& Step : Steps) {
        SCOPED_TRACE(Step.Step);
        Step.Act();
        EXPECT_EQ(W.CountText(), QString(Step.Count));
        EXPECT_LE(W.lblStatus->geometry().right(), W.lblCount->geometry().left());
        EXPECT_GE(W.lblCount->width(), W.lblCount->fontMetrics().horizontalAdvance(W.CountText()));
    }
}

namespace {

struct TKeepCase {
    const char* Name;
    bool Keep;
};

const TKeepCase KeepCases[] = {{"Kept", true}, {"TurnedOff", false}};

class KeptListTest : public WindowLife, public ::testing::WithParamInterface<TKeepCase> {};

}  // namespace

// Closing with files in the list keeps them, their checks, trims and crops
// for the next start; a file gone meanwhile is left out and named in the
// log. The preference turns it off.
TEST_P(KeptListTest, ListComesBackAfterARestartWithoutTheFilesThatWent) {
    const TKeepCase& Case = GetParam();
    TAppSettings(SettingsIni).SetKeepList(Case.Keep);
    const fs::path Gone = Folder / "gone.avi", Odd = Folder / "a b, c | 100%.avi";
    fs::copy_file(MediaPath("short.avi"), Gone);
    fs::copy_file(MediaPath("clip.avi"), Odd);
    TfrmMain& W = OpenShown();
    ASSERT_EQ(W.AddFiles({Media("tone.mp3"), QString::fromStdString(Gone.string()),
                          QString::fromStdString(Odd.string()), Media("clip.mp4")}),
              4);
    W.FilesModel()->SetChecked(0, false);
    TlvFilesRecord& Edited = *W.RowRecord(2);
    Edited.TrimStart = 1000;
    Edited.TrimLength = 1500;
    Edited.ZoomMode = "cent";
    Edited.CropTop = Edited.CropBottom = 8;
    Edited.CropLeft = Edited.CropRight = 4;
    W.FilesModel()->SetTrimmedLength(2, 1);
    ASSERT_TRUE(W.close());
    Window.reset();
    fs::remove(Gone);

    TfrmMain& Again = OpenShown();
    if (!Case.Keep) {
        QTest::qWait(50);
        EXPECT_EQ(Rows(), 0);
        EXPECT_FALSE(TAppSettings(SettingsIni).Ini().ValueExists(SettingsKeys::Section, SettingsKeys::KeptList));
        return;
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 3; }));
    EXPECT_EQ(Again.RowRecord(0)->SourceFile, MediaPath("tone.mp3"));
    EXPECT_EQ(Again.RowRecord(1)->SourceFile, Odd.string());
    EXPECT_EQ(Again.RowRecord(2)->SourceFile, MediaPath("clip.mp4"));
    EXPECT_EQ(Checks(), (std::vector<bool>{false, true, true}));
    const TlvFilesRecord& Back = *Again.RowRecord(1);
    EXPECT_EQ(Back.TrimStart, 1000);
    EXPECT_EQ(Back.TrimLength, 1500);
    EXPECT_EQ(Back.ZoomMode, "cent");
    EXPECT_EQ(std::vector<int>({Back.CropTop, Back.CropLeft, Back.CropBottom, Back.CropRight}),
              std::vector<int>({8, 4, 8, 4}));
    EXPECT_EQ(Again.RowText(1, fcTrimmedLength), "1");
    EXPECT_EQ(Again.RowText(1, fcLength), "3");
    EXPECT_TRUE(Again.LogText().contains(QString::fromStdString(Gone.string()) + "")) << "the file gone is named";
    EXPECT_TRUE(Again.StatusText().contains("gone")) << Again.StatusText().toStdString();
    // Emptied and closed, nothing is kept.
    Again.btnClearClick();
    ASSERT_TRUE(Again.close());
    EXPECT_FALSE(TAppSettings(SettingsIni).Ini().ValueExists(SettingsKeys::Section, SettingsKeys::KeptList));
}

INSTANTIATE_TEST_SUITE_P(Gui, KeptListTest, ::testing::ValuesIn(KeepCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The list has the keyboard from the start and shows it with a frame.
TEST_F(WindowLife, EmptyListTakesTheFocusWithAVisibleFrame) {
    TfrmMain& W = OpenShown();
    Activate(W);
    ASSERT_TRUE(QTest::qWaitFor([&] { return W.lvFiles->hasFocus(); }));
    const QColor Frame = W.lvFiles->palette().color(QPalette::Active, QPalette::Highlight);
    const QImage Focused = W.lvFiles->viewport()->grab().toImage();
    EXPECT_EQ(Focused.pixelColor(1, Focused.height() / 2), Frame);
    EXPECT_EQ(Focused.pixelColor(Focused.width() - 2, Focused.height() - 2), Frame);
    W.cbOutputFormat->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W.lvFiles->hasFocus(); }));
    const QImage Unfocused = W.lvFiles->viewport()->grab().toImage();
    EXPECT_NE(Unfocused.pixelColor(1, Unfocused.height() / 2), Frame);
}

// Every key of the window through the real window: what it does, and the
// menu entry that shows it.
TEST_F(WindowLife, KeysDoTheirCommandsAndShowInTheMenus) {
    struct TKeyCase {
        const char* Name;
        const char* Entry;  // the menu entry that shows the key; null: none
        QKeySequence Key;
        std::function<void(TfrmMain&)> Arrange;
        std::function<void(TfrmMain&)> Check;
    };
    bool Opened = false;
    QSignalSpy* Started = nullptr;
    auto SelectRows = [](TfrmMain& W, std::initializer_list<int> Rows) {
        W.lvFiles->selectionModel()->clearSelection();
        for (int R : Rows)
            W.lvFiles->selectionModel()->select(W.FilesModel()->index(R, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        W.lvFiles->selectionModel()->setCurrentIndex(W.FilesModel()->index(*Rows.begin(), 0),
                                                     QItemSelectionModel::NoUpdate);
    };
    const TKeyCase Cases[] = {
        {"Ctrl+O adds", "Edit1", QKeySequence(Qt::CTRL | Qt::Key_O),
         [&](TfrmMain& W) {
             WhenShown<QFileDialog>(&W, [&](QFileDialog& D) {
                 Opened = D.objectName() == "dlgOpen";
                 D.reject();
             });
         },
         [&](TfrmMain&) { EXPECT_TRUE(Opened); }},
        {"Delete removes the selected rows", "Remove1", QKeySequence(Qt::Key_Delete),
         [&](TfrmMain& W) { SelectRows(W, {0, 2}); },
         [&](TfrmMain& W) {
             ASSERT_EQ(Rows(), 1);
             EXPECT_EQ(W.RowRecord(0)->SourceFile, MediaPath("tone.mp3"));
             EXPECT_EQ(W.SelectedRow(), 0);
         }},
        {"Ctrl+A selects every row", "SelectAll1", QKeySequence(Qt::CTRL | Qt::Key_A), [&](TfrmMain& W) { W.SelectRow(1); },
         [&](TfrmMain& W) { EXPECT_EQ(W.lvFiles->SelectedRows(), (QList<int>{0, 1, 2})); }},
        {"Space toggles each selected row", nullptr, QKeySequence(Qt::Key_Space),
         [&](TfrmMain& W) {
             W.FilesModel()->SetChecked(1, false);
             SelectRows(W, {0, 1});
         },
         [&](TfrmMain&) { EXPECT_EQ(Checks(), (std::vector<bool>{false, true, true})); }},
        {"Ctrl+Return starts", "Start1", QKeySequence(Qt::CTRL | Qt::Key_Return),
         [&](TfrmMain& W) {
             W.Batch()->SetModalLoop(false);
             Started = new QSignalSpy(W.Batch(), &TBatchRun::Started);
         },
         [&](TfrmMain& W) {
             EXPECT_EQ(Started->count(), 1);
             delete Started;
             QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
             W.Batch()->ProgressDialog()->btnCancel->click();
             EXPECT_TRUE(Ended.count() > 0 || Ended.wait(60000));
         }},
        {"F1 opens the help", "Help2", QKeySequence(Qt::Key_F1), [](TfrmMain&) {},
         [&](TfrmMain&) {
             ASSERT_EQ(Desktop.Urls.size(), 1u);
             EXPECT_TRUE(QString::fromStdString(Desktop.Urls[0]).endsWith("help/index.html"));
         }},
        {"Ctrl+, opens the preferences", "Options1", QKeySequence(Qt::CTRL | Qt::Key_Comma),
         [&](TfrmMain& W) {
             WhenShown<TfrmPreference>(&W, [&](TfrmPreference& D) {
                 Opened = true;
                 D.reject();
             });
         },
         [&](TfrmMain&) { EXPECT_TRUE(Opened); }},
        {"Ctrl+Q exits", "Exit2", QKeySequence(Qt::CTRL | Qt::Key_Q), [](TfrmMain&) {},
         [&](TfrmMain& W) { EXPECT_FALSE(W.isVisible()); }},
    };
    for (const TKeyCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Opened = false;
        Desktop.Urls.clear();
        TfrmMain& W = OpenShown();
        ASSERT_EQ(W.AddFiles(MediaList({"clip.avi", "tone.mp3", "tone.wav"})), 3);
        Activate(W);
        if (Case.Entry) {
            EXPECT_EQ(Child<QAction>(W, Case.Entry)->shortcut(), Case.Key);
            EXPECT_EQ(Child<QAction>(W, Case.Entry)->shortcutContext(), Qt::WindowShortcut);
        }
        Case.Arrange(W);
        QTest::keySequence(W.lvFiles, Case.Key);
        Case.Check(W);
        Window.reset();
    }
}

// Every dialog: Tab reaches each of its controls with the buttons last, OK
// before Cancel; Escape closes it without its choices, Return with them.
TEST_F(WindowLife, EveryDialogAnswersTabEscapeAndReturn) {
    TfrmMain& W = OpenShown();
    W.AddFiles({Media("clip.mp4")});
    TlvFilesRecord Row = *W.RowRecord(0);
    struct TDialogCase {
        const char* Name;
        std::function<QDialog*()> Make;
        const char* Ok;       // the button Return presses
        const char* Cancel;   // null: none
        bool ReturnAccepts;
    };
    const TDialogCase Cases[] = {
        {"preferences", [&] { return new TfrmPreference(SettingsIni, &W); }, "btnOk", "btnCancel", true},
        {"profile settings",
         [&] { return new TfrmSettings(TProfileFiles{SettingsIni, FormatIni}, &W); }, "btnOk", "btnCancel", true},
        {"trim",
         [&] {
             auto* D = new TfrmTrim(&W);
             D->SetRow(&Row, [](int) {});
             return D;
         },
         "btnOk", "btnCancel", true},
        {"crop",
         [&] {
             auto* D = new TfrmCrop(&W);
             D->SetRow(&Row);
             return D;
         },
         "btnOk", "btnCancel", true},
        {"file information",
         [&] {
             auto* D = new TfrmFileInfo(&W);
             D->SetSourceFile(Row.SourceFile);
             return D;
         },
         "btn1", nullptr, true},
        {"about", [&] { return new TfrmAbout(&W); }, "btn1", nullptr, true},
        {"folder chooser",
         [&] {
             auto* D = new TfmDirectory(&W);
             D->SetStartFolder(OutputDir);
             return D;
         },
         "btnOk", "btnCancel", true},
    };
    for (const TDialogCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        std::unique_ptr<QDialog> D(Case.Make());
        // Tab order: every control that takes the keyboard, once; the
        // dialog's buttons after the others.
        D->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(D.get()));
        QApplication::setActiveWindow(D.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(D.get()));
        QWidget* Ok = D->findChild<QWidget*>(Case.Ok);
        ASSERT_NE(Ok, nullptr);
        std::vector<QWidget*> Chain;
        QWidget* Start = D->focusWidget() ? D->focusWidget() : Ok;
        QWidget* At = Start;
        do {
            if (At->isVisibleTo(D.get()) && At->isEnabled() && (At->focusPolicy() & Qt::TabFocus) &&
                At->window() == D.get() && !At->focusProxy())
                Chain.push_back(At);
            At = At->nextInFocusChain();
        } while (At != Start && Chain.size() < 200);
        std::vector<QWidget*> Reachable;
        for (QWidget* C : D->findChildren<QWidget*>())
            if (C->isVisibleTo(D.get()) && C->isEnabled() && (C->focusPolicy() & Qt::TabFocus) && !C->focusProxy())
                Reachable.push_back(C);
        EXPECT_EQ(Chain.size(), Reachable.size());
        // Rotate the chain so that it starts after the last button.
        auto Index = [&](QWidget* X) { return int(std::find(Chain.begin(), Chain.end(), X) - Chain.begin()); };
        const int OkAt = Index(Ok);
        ASSERT_LT(OkAt, int(Chain.size()));
        if (Case.Cancel) {
            const int CancelAt = Index(D->findChild<QWidget*>(Case.Cancel));
            EXPECT_EQ((CancelAt - OkAt + int(Chain.size())) % int(Chain.size()), 1) << "Cancel right after OK";
            // After Cancel, the chain wraps to the first input control.
            QWidget* Next = Chain[size_t((CancelAt + 1) % int(Chain.size()))];
            EXPECT_EQ(qobject_cast<QPushButton*>(Next), nullptr) << Next->objectName().toStdString();
        }

        // Escape closes without the choices.
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : D.get(), Qt::Key_Escape);
        EXPECT_FALSE(D->isVisible());
        EXPECT_EQ(D->result(), QDialog::Rejected);

        // Return takes them.
        D->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(D.get()));
        QApplication::setActiveWindow(D.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(D.get()));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : D.get(), Qt::Key_Return);
        EXPECT_EQ(D->isVisible(), !Case.ReturnAccepts);
        if (Case.ReturnAccepts) {
            EXPECT_EQ(D->result(), QDialog::Accepted);
        }
        if (D->isVisible()) D->reject();
    }
}
