// Adding files to the main window's list: from the open dialog, the command
// line and files dropped on the list.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QToolButton>

#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/Files.h"
#include "gui/AddFiles.h"

#include "gui/ProfileList.h"
#include "gui/FileList.h"
#include "gui/WinMain.h"

namespace {

const char* const VideoPatterns =
    "*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;"
    "*.TP;*.IFO;*.NSV;*.SWF";
const char* const AudioPatterns =
    "*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;"
    "*.AC3;*.DTS";
const char* const PicturePatterns = "*.BMP;*.GIF;*.JPEG;*.JPG;*.PNG";

// "*.AVI;*.MP4" -> "*.AVI *.avi *.MP4 *.mp4": file names on Linux keep
// their letter case, so each pattern is offered in both.
QString BothCases(const QString& Patterns) {
    QStringList Out;
    for (const QString& P : Patterns.split(';', Qt::SkipEmptyParts)) {
        Out << P.toUpper();
        if (P.toLower() != P.toUpper()) Out << P.toLower();
    }
    return Out.join(' ');
}

QString OneLine(QString Text) {
    Text.replace("\r\n", "\n");
    Text.replace('\r', '\n');
    while (Text.endsWith('\n')) Text.chop(1);
    return Text;
}

// The open dialog's filter in Qt's "description (patterns);;..." form,
// every pattern in upper and lower case.
QString AddFilesFilter() {
    const QString Video = QString::fromLatin1(VideoPatterns);
    const QString Audio = QString::fromLatin1(AudioPatterns);
    const QString Picture = QString::fromLatin1(PicturePatterns);
    return QStringList{
        "Video/Audio/Picture Files (" + BothCases(Video + ";" + Audio + ";" + Picture) + ")",
        "Video Files (" + BothCases(Video) + ")",
        "Audio Files (" + BothCases(Audio) + ")",
        "Picture Files (" + BothCases(Picture) + ")",
        "All Files (*)",
    }.join(";;");
}

}  // namespace

QString NameToQString(const std::string& Name) {
    QString Out;
    const auto* P = reinterpret_cast<const unsigned char*>(Name.data());
    const size_t N = Name.size();
    for (size_t I = 0; I < N;) {
        const unsigned char B = P[I];
        int Length = 0;
        char32_t Code = 0, Least = 0;
        if (B < 0x80) {
            Length = 1, Code = B;
        } else if ((B & 0xE0) == 0xC0) {
            Length = 2, Code = B & 0x1F, Least = 0x80;
        } else if ((B & 0xF0) == 0xE0) {
            Length = 3, Code = B & 0x0F, Least = 0x800;
        } else if ((B & 0xF8) == 0xF0) {
            Length = 4, Code = B & 0x07, Least = 0x10000;
        }
        bool Valid = Length > 0 && I + Length <= N;
        for (int K = 1; Valid && K < Length; ++K) {
            if ((P[I + K] & 0xC0) != 0x80) Valid = false;
            Code = (Code << 6) | (P[I + K] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (Valid && Length > 1 && (Code < Least || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)))
            Valid = false;
        if (!Valid) {
            Out += QChar(char16_t(0xDC00 + B));
            ++I;
            continue;
        }
        Out += QString::fromUcs4(&Code, 1);
        I += Length;
    }
    return Out;
}

std::string QStringToName(const QString& Text) {
    std::string Out;
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const char16_t U = Text[I].unicode();
        if (U >= 0xDC80 && U <= 0xDCFF && !(I > 0 && QChar::isHighSurrogate(Text[I - 1].unicode()))) {
            Out += static_cast<char>(U - 0xDC00);
            continue;
        }
        qsizetype Length = QChar::isHighSurrogate(U) && I + 1 < Text.size() ? 2 : 1;
        Out += Text.mid(I, Length).toStdString();
        I += Length - 1;
    }
    return Out;
}

QString FailureStatus(int Failures) {
    if (Failures <= 0) return {};
    if (Failures == 1) return QString::fromUtf8("1 file could not be added \u2014 see the log");
    return QString::fromUtf8("%1 files could not be added \u2014 see the log").arg(Failures);
}

bool TfrmMain::LoadLibraries() {
    if (FLibrariesLoaded) return true;
    // The "LibAV" folder beside the program wins; without it the system's
    // libraries serve.
    std::string Folder = ExecutableFolder() + "LibAV";
    if (!FolderExists(Folder)) Folder.clear();
    if (!VxAVC.LoadAVLib(Folder, 1)) {
        AppendLog(QString::fromStdString(VxAVC.LastError));
        SetStatus(QString::fromUtf8("The codec libraries could not be loaded \u2014 see the log"));
        return false;
    }
    FLibrariesLoaded = true;
    return true;
}

void TfrmMain::btnAddClick() {
    if (FAdding || !LoadLibraries()) return;
    QFileDialog Dialog(this, "Open");
    Dialog.setObjectName("dlgOpen");
    Dialog.setFileMode(QFileDialog::ExistingFiles);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setNameFilter(AddFilesFilter());
    Dialog.setSizeGripEnabled(true);
    Dialog.setDirectory(FLastFolder.isEmpty() ? QDir::homePath() : FLastFolder);
    if (Dialog.exec() != QDialog::Accepted) return;
    const QStringList Paths = Dialog.selectedFiles();
    if (Paths.isEmpty()) return;
    FLastFolder = QFileInfo(Paths.first()).absolutePath();
    AddFiles(Paths);
}

int TfrmMain::AddFiles(const QStringList& Paths) {
    if (Paths.isEmpty() || FClosing) return 0;
    if (FAdding) {
        // A drop while the progress dialog runs waits for its turn.
        FPendingAdds += Paths;
        return 0;
    }
    if (!LoadLibraries()) return 0;
    FAdding = true;
    FLastAddFailures = 0;
    int Added = AddFilesNow(Paths);
    while (!FPendingAdds.isEmpty() && !FClosing) {
        QStringList More;
        More.swap(FPendingAdds);
        Added += AddFilesNow(More);
    }
    FAdding = false;
    SetStatus(FailureStatus(FLastAddFailures));
    return Added;
}

int TfrmMain::AddFilesNow(const QStringList& Paths) {
    VxAVC.ClearJobs();
    const std::string Suffix =
        "_ipod." + ProfileFileExt(IniFile(FFormatIni), SelectedProfile(cbOutputFormat));

    // Reading a file takes a moment; many of them show a progress dialog
    // with the file at hand and a Cancel that stops after it.
    QProgressDialog Progress(this);
    Progress.setObjectName("dlgAddProgress");
    Progress.setWindowTitle("Adding files");
    Progress.setWindowModality(Qt::WindowModal);
    Progress.setMinimumDuration(FAddProgressDelay);
    Progress.setRange(0, static_cast<int>(Paths.size()));
    Progress.setMinimumWidth(420);
    Progress.setAutoClose(false);
    Progress.setAutoReset(false);

    int Added = 0;
    for (int I = 0; I < Paths.size(); ++I) {
        if (Progress.wasCanceled() || FClosing) break;
        QString Path = Paths[I];
        if (QFileInfo(Path).isRelative()) Path = QDir::cleanPath(QDir::current().absoluteFilePath(Path));
        Progress.setLabelText(QString("Reading %1 (%2 of %3)")
                                  .arg(QFileInfo(Path).fileName())
                                  .arg(I + 1)
                                  .arg(Paths.size()));
        Progress.setValue(I);

        const std::string Source = QStringToName(Path);
        if (FolderExists(Source) || FModel->FindSource(Source) >= 0) continue;
        const std::string Output = MakeOutputFileName(FSettingsIni, Source, Suffix);
        const int Job = VxAVC.AddInputFile(Source, nullptr);
        if (Job < 0) {
            AppendLog("");
            AppendLog(QString::fromStdString("***File open error: " + VxAVC.LastError));
            AppendLog("");
            ++FLastAddFailures;
            continue;
        }
        TAVProbe& Probe = VxAVC.GetJobProbe(Job);
        TAVFileInfo Info;
        Probe.GetFileInfo(Info);
        // A container without a known duration counts as 0 seconds.
        const int Seconds = Info.Duration > 0 ? static_cast<int>(Info.Duration / 1000000) : 0;
        AppendLog("");
        AppendLog(OneLine(QString::fromStdString(Probe.GetInfoText())));
        AppendLog(QString::number(Seconds));
        AppendLog(QString::number(Probe.GetFileSize()));

        btnStart->setEnabled(true);
        TlvFilesRecord Record;
        Record.SelectionIndex = I;
        Record.SourceFile = Source;
        Record.OutputFile = Output;
        Record.Duration = Seconds;
        FModel->AddRow(Record);
        ++Added;
        btnClear->setEnabled(true);
        btnRemove->setEnabled(true);
        VxAVC.DeleteJob(Job);
        VxAVC.ClearJobs();
        SelectRow(0);
        lvFiles->setFocus();
        lvFiles->viewport()->update();
    }
    Progress.setValue(static_cast<int>(Paths.size()));
    return Added;
}
