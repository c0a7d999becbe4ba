// The trim and crop dialogs and the rectangle tracker: the time fields and
// their validation, the crop conversions, the tracker's zones and drags, and
// both dialogs on generated media.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/GlobalUnit.h"
#include "binding/LibAV.h"
#include "common/Bitmap.h"
#include "dialogs/RectTracker.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinTrim.h"
#include "tests/ConvertOnce.h"
#include "tests/TestMedia.h"
#include "widgets/PathText.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPlayer.h"
#include "widgets/Theme.h"

namespace {

std::string Digits(const QLineEdit* Field) { return Field->displayText().remove(':').toStdString(); }

// ---------------------------------------------------------------- trim rules

TEST(TrimTimes, ReadsTimeFieldsByTheSixCharacterGroups) {
    struct TCase {
        const char* Text;
        int64_t Ms;
        int Minutes, Seconds;
    };
    const TCase Cases[] = {
        {"011530", 4530000, 15, 30},
        {"1530", 930000, 15, 30},        // right-aligned: no hours
        {"12 4 6", 43446000, 4, 6},      // a blank inside a group counts 0
        {"  ", 0, 0, 0},
        {"007500", 4500000, 75, 0},      // read as is; the range checks refuse it
        {"ab0130", 90000, 1, 30},
    };
    for (const TCase& C : Cases) {
        const TFieldTime T = ReadTimeField(C.Text);
        EXPECT_EQ(T.Ms, C.Ms) << C.Text;
        EXPECT_EQ(T.Minutes, C.Minutes) << C.Text;
        EXPECT_EQ(T.Seconds, C.Seconds) << C.Text;
    }
    EXPECT_EQ(TimeDigits(4530000000LL), "011530");
    EXPECT_EQ(TimeDigits(75040000), "000115");
}

// One scripted visit of the dialog's fields, then OK.
struct TTrimCase {
    const char* Name;
    int64_t D;
    int RecordStart, RecordLength;
    // Field edits in order: 's' or 'e', the digits typed, the message expected.
    struct TEdit {
        char Field;
        const char* Text;
        const char* Message;
    };
    std::vector<TEdit> Edits;
    const char* StartAfter;  // field texts after the edits
    const char* EndAfter;
    const char* LengthAfter;
    int TrimStart, TrimLength;
    std::optional<int> Column;  // seconds
};

// A refused field is reset and the reset value is what OK stores: the three
// fields and the stored trim agree after every message.
TEST(TrimTimes, ValidatesFieldsAndStoresTheTrimAsTheRowExpects) {
    const int64_t TwoMin = 120400, Long = 4530000, TwoHours = 7200000;
    const TTrimCase Cases[] = {
        {"end at 01:15:30 accepted", Long, 0, 0, {{'e', "011530", ""}}, "000000", "011530", "011530", 0, 0, 4530},
        {"start 10 s, end at the duration", TwoMin, 0, 0, {{'s', "000010", ""}}, "000010", "000200", "000150",
         10000, static_cast<int>(TwoMin - 10000), static_cast<int>(TwoMin / 1000 - 10)},
        {"whole file stores no trim", TwoMin, 0, 0, {}, "000000", "000200", "000200", 0, 0,
         static_cast<int>(TwoMin / 1000)},
        {"start in the end's second", TwoMin, 0, 0,
         {{'e', "000010", ""}, {'s', "000010", "The start time cannot equal to the end time!"}}, "000000", "000010",
         "000010", 0, 10000, 10},
        {"end in the start's second", TwoMin, 0, 0,
         {{'s', "000010", ""}, {'e', "000010", "The end time cannot equal to the start time!!"}}, "000010", "000200",
         "000150", 10000, static_cast<int>(TwoMin - 10000), static_cast<int>(TwoMin / 1000 - 10)},
        {"75 minutes is no start", TwoHours, 0, 0, {{'s', "007500", "Incorrect start time!"}}, "000000", "020000",
         "020000", 0, 0, static_cast<int>(TwoHours / 1000)},
        {"end 0 with start 0 is silent", TwoMin, 0, 0, {{'e', "000000", ""}}, "000000", "000000", "000000", 0, 0,
         std::nullopt},
        {"end past the duration", TwoMin, 0, 0, {{'e', "000500", "Incorrect end time!"}}, "000000", "000200",
         "000200", 0, 0, static_cast<int>(TwoMin / 1000)},
        {"end before the start", TwoMin, 5000, 10000,
         {{'e', "000003", "The end time cannot equal to the start time!!"}}, "000005", "000200", "000155", 5000,
         static_cast<int>(TwoMin - 5000), static_cast<int>(TwoMin / 1000 - 5)},
        {"start after the end", TwoMin, 0, 0,
         {{'e', "000030", ""}, {'s', "000100", "Incorrect start time!"}}, "000000", "000030", "000030", 0, 30000,
         30},
        {"stored trim opens in the fields", TwoMin, 5000, 3000, {}, "000005", "000008", "000003", 5000, 3000, 3},
        {"less than a second left runs to the end", 10500, 0, 0, {{'e', "000010", ""}}, "000000", "000010",
         "000010", 0, 0, 10},
    };
    for (const TTrimCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TlvFilesRecord Record;
        Record.TrimStart = C.RecordStart;
        Record.TrimLength = C.RecordLength;
        TTrimTimes T;
        T.Open(Record, C.D);
        for (const auto& Edit : C.Edits) {
            std::string Message;
            if (Edit.Field == 's') {
                T.StartText = Edit.Text;
                Message = T.StartExit();
            } else {
                T.EndText = Edit.Text;
                Message = T.EndExit();
            }
            EXPECT_EQ(Message, Edit.Message) << Edit.Field << Edit.Text;
        }
        EXPECT_EQ(T.StartText, C.StartAfter);
        EXPECT_EQ(T.EndText, C.EndAfter);
        EXPECT_EQ(T.LengthText, C.LengthAfter);
        int Column = -1;
        const bool SetsColumn = T.Apply(Record, Column);
        EXPECT_EQ(Record.TrimStart, C.TrimStart);
        EXPECT_EQ(Record.TrimLength, C.TrimLength);
        EXPECT_EQ(SetsColumn ? std::optional<int>(Column) : std::nullopt, C.Column);
    }
}

// ---------------------------------------------------------------- crop rules

TEST(CropMath, ConvertsBordersWithRoundHalfEvenAndEvenSourceValues) {
    struct TCase {
        int Preview, Frame, Picture;  // border in preview pixels, frame size, picture rectangle size
        int Source;
    };
    // 720 x 576 in the 314 x 251 picture rectangle, 176 x 144 in 308 x 251.
    for (const TCase& C : {TCase{7, 576, 251, 16}, TCase{10, 576, 251, 22}, TCase{10, 144, 251, 6},
                           TCase{0, 576, 251, 0}, TCase{251, 144, 251, 144}})
        EXPECT_EQ(BorderToSource(C.Preview, C.Frame, C.Picture), C.Source) << C.Preview << "/" << C.Frame;
    EXPECT_EQ(BorderToPreview(16, 251, 576), 7);
    EXPECT_EQ(BorderToPreview(144, 251, 144), 251);
    for (auto [N, D, R] : {std::tuple{5, 2, 2}, {7, 2, 4}, {3, 2, 2}, {-5, 2, -2}, {7, 3, 2}, {8, 3, 3}})
        EXPECT_EQ(RoundHalfEven(N, D), R) << N << "/" << D;
    for (auto [Text, Index] : {std::pair{"lbox", 0}, {"cent", 1}, {"full", 2}, {"orig", 3}, {"zoom", 0}, {"", 0},
                               {"LBOX", 0}})
        EXPECT_EQ(ZoomIndex(Text), Index) << Text;
    EXPECT_STREQ(ZoomCode(3), "orig");
}

TEST(CropMath, BlackBordersAreFoundAndADarkPictureHasNone) {
    TBitmap Picture(64, 48);
    Picture.Fill(0, 0, 0);
    TBorders B;
    EXPECT_FALSE(FindBlackBorders(Picture, B)) << "all dark";
    for (int Row = 6; Row < 42; ++Row)
        for (int X = 2; X < 61; ++X) Picture.ScanLine(Row)[3 * X + 1] = 120;
    Picture.ScanLine(3)[30] = 20;  // coded black is not quite 0
    ASSERT_TRUE(FindBlackBorders(Picture, B));
    EXPECT_EQ(B.Top, 6);
    EXPECT_EQ(B.Bottom, 6);
    EXPECT_EQ(B.Left, 2);
    EXPECT_EQ(B.Right, 3);
}

// ---------------------------------------------------------------- tracker

class Tracker : public ::testing::Test {
protected:
    void SetUp() override {
        Parent.resize(400, 300);
        T = new TRectTracker(&Parent);
        T->SetBounds(100, 80, 65, 65);
        T->OnChange = [this](TRectTracker*, const TRect& R) { Changes.push_back(R); };
        Parent.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Parent));
    }
    // Presses at Own (tracker coordinates), moves by (DX, DY) in steps, releases.
    // Each event goes to the tracker at the mouse's place relative to where
    // the tracker is at that moment, as a grabbed mouse reports it.
    void Drag(QPoint Own, int DX, int DY, int Steps = 3) { DragTracker(T, Own, DX, DY, Steps); }
public:
    static void DragTracker(TRectTracker* Tracker, QPoint Own, int DX, int DY, int Steps = 3) {
        const QPoint Start = Tracker->mapToParent(Own);
        QTest::mousePress(Tracker, Qt::LeftButton, {}, Own);
        for (int I = 1; I <= Steps; ++I)
            QTest::mouseMove(Tracker, Tracker->mapFromParent(Start + QPoint(DX * I / Steps, DY * I / Steps)));
        QTest::mouseRelease(Tracker, Qt::LeftButton, {}, Tracker->mapFromParent(Start + QPoint(DX, DY)));
    }
protected:
    QWidget Parent;
    TRectTracker* T = nullptr;
    std::vector<TRect> Changes;
};

TEST_F(Tracker, HitTestFindsHandlesBeforeTheInside) {
    // 65 x 65: the middle handles start at 30.
    struct TCase {
        QPoint P;
        TTrackerZone Zone;
        Qt::CursorShape Cursor;
    };
    const TCase Cases[] = {
        {{0, 0}, tzTopLeft, Qt::SizeFDiagCursor},    {{64, 64}, tzBottomRight, Qt::SizeFDiagCursor},
        {{4, 60}, tzBottomLeft, Qt::SizeBDiagCursor}, {{60, 4}, tzTopRight, Qt::SizeBDiagCursor},
        {{0, 30}, tzLeft, Qt::SizeHorCursor},         {{64, 34}, tzRight, Qt::SizeHorCursor},
        {{30, 0}, tzTop, Qt::SizeVerCursor},          {{34, 64}, tzBottom, Qt::SizeVerCursor},
        {{32, 32}, tzInside, Qt::SizeAllCursor},      {{5, 5}, tzInside, Qt::SizeAllCursor},
        {{1, 10}, tzNone, Qt::ArrowCursor},           {{63, 40}, tzNone, Qt::ArrowCursor},
        {{0, 29}, tzNone, Qt::ArrowCursor},           {{35, 0}, tzNone, Qt::ArrowCursor},
    };
    for (const TCase& C : Cases) {
        EXPECT_EQ(T->HitTest(C.P), C.Zone) << C.P.x() << "," << C.P.y();
        EXPECT_EQ(TRectTracker::ZoneCursor(C.Zone), C.Cursor);
    }
    EXPECT_EQ(T->InnerRect(), (TRect{2, 2, 63, 63}));
    EXPECT_EQ(T->TrackRect(), (TRect{102, 82, 163, 143}));
}

TEST_F(Tracker, EachZoneDragsItsEdgesAndChangeComesOnRelease) {
    struct TCase {
        QPoint Grab;
        int DX, DY;
        QRect Bounds;  // left, top, width, height afterwards
    };
    const TCase Cases[] = {
        {{1, 31}, -10, 7, {90, 80, 75, 65}},      // left
        {{63, 31}, 12, 7, {100, 80, 77, 65}},     // right
        {{31, 1}, 4, -9, {100, 71, 65, 74}},      // top
        {{31, 63}, 4, 9, {100, 80, 65, 74}},      // bottom
        {{1, 1}, 6, 8, {106, 88, 59, 57}},        // top-left
        {{63, 1}, 6, 8, {100, 88, 71, 57}},       // top-right
        {{1, 63}, 6, 8, {106, 80, 59, 73}},       // bottom-left
        {{63, 63}, -6, 8, {100, 80, 59, 73}},     // bottom-right
        {{30, 20}, 25, -15, {125, 65, 65, 65}},   // inside moves
        {{100, 100}, 10, 10, {100, 80, 65, 65}},  // outside: nothing
    };
    for (const TCase& C : Cases) {
        T->SetBounds(100, 80, 65, 65);
        Changes.clear();
        Drag(C.Grab, C.DX, C.DY);
        EXPECT_EQ(T->geometry(), C.Bounds) << C.Grab.x() << "," << C.Grab.y();
        EXPECT_EQ(T->GrabbedZone(), tzNone);
        const bool Moved = C.Bounds != QRect(100, 80, 65, 65);
        ASSERT_EQ(Changes.size(), Moved ? 1u : 0u);
        if (Moved) {
            EXPECT_EQ(Changes[0], T->TrackRect());
        }
    }
}

TEST_F(Tracker, NeverShrinksBelowTenPixels) {
    Drag({63, 31}, -200, 0);
    EXPECT_EQ(T->width(), TRectTracker::MinSize);
    T->SetBounds(100, 80, 12, 65);
    Drag({1, 31}, 30, 0, 1);  // allowed while wider than 10, then held at 10
    EXPECT_EQ(T->width(), TRectTracker::MinSize);
    const int Left = T->x();
    Drag({1, 31}, 5, 0, 1);  // no longer moves inward
    EXPECT_EQ(T->x(), Left);
    T->SetBounds(100, 80, 65, 65);
    Drag({31, 63}, 0, -300);
    EXPECT_EQ(T->height(), TRectTracker::MinSize);
    EXPECT_EQ(T->y(), 80);
}

TEST_F(Tracker, CompanionStaysFivePixelsInside) {
    QWidget Companion(&Parent);
    Companion.setGeometry(50, 60, 100, 40);
    T->SetAcControl(&Companion);
    EXPECT_EQ(T->geometry(), QRect(45, 55, 110, 50));
    Drag({108, 48}, 20, 10);
    EXPECT_EQ(Companion.geometry(), QRect(50, 60, 120, 50));
    T->SetAcControl(T);
    EXPECT_EQ(T->AcControl(), nullptr);
}

// ---------------------------------------------------------------- dialogs on media

class TrimCropDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }
    void SetUp() override {
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind) {
            Messages.push_back(C + ": " + T);
        });
        ApplyTheme(0);
    }
    void TearDown() override {
        Trim.reset();
        Crop.reset();
        SetMessageFunction({});
    }
    TfrmTrim& OpenTrim(TlvFilesRecord& Record) {
        if (!Trim) Trim = std::make_unique<TfrmTrim>();
        Trim->SetRow(&Record, [this](int Seconds) { Column = Seconds; });
        Trim->open();
        return *Trim;
    }
    TfrmCrop& OpenCrop(TlvFilesRecord& Record) {
        if (!Crop) Crop = std::make_unique<TfrmCrop>();
        Crop->SetRow(&Record);
        Crop->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Crop.get()));
        return *Crop;
    }
    static TlvFilesRecord Row(const std::string& Name) {
        TlvFilesRecord R;
        R.SourceFile = MediaPath(Name);
        return R;
    }
    std::vector<std::string> Messages;
    std::optional<int> Column;
    std::unique_ptr<TfrmTrim> Trim;
    std::unique_ptr<TfrmCrop> Crop;
};

TEST_F(TrimCropDialogs, TrimFieldsMessagesAndColumnGoThroughTheDialog) {
    TlvFilesRecord R = Row("clip.mp4");  // 3.008 s
    R.TrimStart = 2000;
    TfrmTrim& D = OpenTrim(R);
    EXPECT_EQ(D.windowTitle(), "Trim");
    EXPECT_EQ(D.size(), QSize(615, 435));
    EXPECT_EQ(D.Times().D, 3008);
    EXPECT_EQ(Digits(D.maskedtStartTime), "000002");
    EXPECT_EQ(Digits(D.maskedtEndTime), "000003");
    EXPECT_EQ(D.lblLength->text(), "3.008 Second");
    // A long checkout's path is shortened as every path label shortens it;
    // the tool tip holds it whole.
    EXPECT_EQ(D.lblSourceName->text().toStdString(), ShortenPath(R.SourceFile, 50, 44, true));
    EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), R.SourceFile);
    EXPECT_TRUE(D.Timer1->isActive());

    D.maskedtStartTime->setText("000003");
    D.btnOk1Click();
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: The start time cannot equal to the end time!"});
    EXPECT_EQ(Digits(D.maskedtStartTime), "000000");
    D.maskedtStartTime->setText("000001");
    D.btnOk1Click();
    EXPECT_EQ(Digits(D.maskedtLength), "000002");
    EXPECT_EQ(Messages.size(), 1u);
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(R.TrimStart, 1000);
    EXPECT_EQ(R.TrimLength, 2008);
    EXPECT_EQ(Column, 2);
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
    EXPECT_FALSE(D.Timer1->isActive());

    // Reset writes at once; Cancel keeps that and leaves the column alone.
    Column.reset();
    OpenTrim(R);
    EXPECT_EQ(Digits(D.maskedtStartTime), "000001");
    QTest::mouseClick(D.btnReset, Qt::LeftButton);
    QTest::mouseClick(D.btnCancel, Qt::LeftButton);
    EXPECT_EQ(R.TrimStart, 0);
    EXPECT_EQ(R.TrimLength, 0);
    EXPECT_FALSE(Column.has_value());

    // A row without a stored start after one with a start opens at 0.
    TlvFilesRecord Other = Row("clip.avi");
    OpenTrim(Other);
    EXPECT_EQ(Digits(D.maskedtStartTime), "000000");
    EXPECT_EQ(D.Times().S, 0);
    // Set Start takes the slider's time and validates it.
    D.trcPreview->setValue(D.trcPreview->maximum() / 3);
    QTest::mouseClick(D.btnSetStart, Qt::LeftButton);
    EXPECT_EQ(Digits(D.maskedtStartTime), "000001");
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_EQ(Other.TrimStart, 1000);
}

TEST_F(TrimCropDialogs, TrimPlayerTicksForStillsShortFilesAndLeavingAField) {
    TlvFilesRecord Still = Row("still.png");
    TfrmTrim& D = OpenTrim(Still);
    EXPECT_TRUE(D.trcPreview->isHidden());
    EXPECT_EQ(D.trcPreview->maximum(), 0);
    D.Timer1Timer();
    EXPECT_TRUE(D.Player()->Paused());
    EXPECT_FALSE(D.Timer1->isActive());
    D.accept();

    TlvFilesRecord Short = Row("short.avi");
    OpenTrim(Short);
    ASSERT_GT(D.trcPreview->maximum(), 0);
    D.Timer1Timer();
    EXPECT_EQ(D.trcPreview->value(), D.trcPreview->maximum());
    EXPECT_FALSE(D.Player()->Paused());
    D.Timer1Timer();
    EXPECT_EQ(D.trcPreview->value(), 0);
    EXPECT_TRUE(D.Player()->Paused());
    D.imgbtnPlayClick();
    EXPECT_FALSE(D.Player()->Paused());

    // Leaving the end field validates it.
    QApplication::setActiveWindow(&D);
    D.maskedtEndTime->setFocus();
    D.maskedtEndTime->setText("000009");
    D.btnOk->setFocus();
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: Incorrect end time!"});
    EXPECT_EQ(Digits(D.maskedtEndTime), "000000");
    D.reject();
}

TEST_F(TrimCropDialogs, CropOpensConvertsAndStoresEvenSourceBorders) {
    TlvFilesRecord R = Row("pal_16x15.mp4");  // 720 x 576 at 16:15, shown as 768 x 576
    R.CropTop = 16;
    R.ZoomMode = "zoom";
    TfrmCrop& D = OpenCrop(R);
    EXPECT_EQ(D.windowTitle(), "Crop");
    EXPECT_EQ(D.FrameWidth(), 720);
    EXPECT_EQ(D.FrameHeight(), 576);
    EXPECT_EQ(D.PictureWidth(), 336);
    EXPECT_EQ(D.PictureHeight(), 251);
    EXPECT_EQ(D.X0(), D.imgPreview->x() + 17);
    EXPECT_EQ(D.Y0(), D.imgPreview->y() + 1);
    EXPECT_EQ(D.spedUp->value(), 7);
    EXPECT_EQ(D.RectTracker->geometry(), QRect(D.X0(), D.Y0() + 7, 336, 244));
    EXPECT_TRUE(D.RectTracker->isVisible());
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_EQ(R.CropTop, 16);
    EXPECT_EQ(R.ZoomMode, "lbox");

    OpenCrop(R);
    D.spedUp->stepBy(3);
    EXPECT_EQ(D.RectTracker->y(), D.Y0() + 10);
    D.spedLeft->stepBy(5);
    D.spedRight->stepBy(4);
    EXPECT_EQ(D.RectTracker->geometry(), QRect(D.X0() + 5, D.Y0() + 10, 327, 241));
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_EQ(R.CropTop, 22);
    EXPECT_EQ(R.CropLeft, 10);   // 5 x 720 / 336 = 10.71 -> 11 -> 10
    EXPECT_EQ(R.CropRight, 8);   // 8.57 -> 9 -> 8
    EXPECT_EQ(R.CropBottom, 0);

    // Reset and Default clear the borders but not the record.
    OpenCrop(R);
    QTest::mouseClick(D.btnDefault, Qt::LeftButton);
    EXPECT_EQ(D.RectTracker->geometry(), QRect(D.X0(), D.Y0(), 336, 251));
    EXPECT_EQ(R.CropTop, 22);
    D.reject();
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
}

TEST_F(TrimCropDialogs, CropSpinStepsStopAtTheTrackersMinimum) {
    TlvFilesRecord R = Row("pal_16x15.mp4");
    TfrmCrop& D = OpenCrop(R);
    D.spedDown->setValue(200);
    D.spedUp->stepBy(40);
    EXPECT_EQ(D.RectTracker->height(), 11);
    D.spedUp->stepBy(1);
    EXPECT_EQ(D.RectTracker->height(), 10);
    D.spedUp->stepBy(1);  // refused
    EXPECT_EQ(D.spedUp->value(), 41);
    EXPECT_EQ(D.RectTracker->height(), 10);
    D.spedDown->stepBy(1);  // refused too
    EXPECT_EQ(D.spedDown->value(), 200);
    D.spedUp->stepBy(-1);  // accepted
    EXPECT_EQ(D.spedUp->value(), 40);
    EXPECT_EQ(D.RectTracker->height(), 11);
    D.spedLeft->stepBy(-3);  // negative becomes 0
    EXPECT_EQ(D.spedLeft->value(), 0);
    D.reject();
}

TEST_F(TrimCropDialogs, CropDragsAreClampedToThePicture) {
    TlvFilesRecord R = Row("pal_16x15.mp4");
    TfrmCrop& D = OpenCrop(R);
    D.Player()->Pause();
    TRectTracker* T = D.RectTracker;
    auto Drag = [&](QPoint Own, QPoint By) { Tracker::DragTracker(T, Own, By.x(), By.y(), 2); };
    // The right edge pulled past the picture stops at its edge less Right.
    D.spedRight->setValue(6);
    Drag({T->width() - 2, T->height() / 2}, {40, 0});
    EXPECT_EQ(T->x() + T->width(), D.X0() + 336 - 6);
    EXPECT_EQ(D.spedRight->value(), 6);

    // Moving the whole tracker out at the right and bottom puts it back
    // where it was pressed, reaching the picture's edges.
    D.spedRight->setValue(126);
    D.spedLeft->setValue(10);
    D.spedUp->setValue(10);
    D.spedDown->setValue(41);
    ASSERT_EQ(T->geometry(), QRect(D.X0() + 10, D.Y0() + 10, 200, 200));
    Drag({7, 7}, {150, 60});
    EXPECT_EQ(T->geometry(), QRect(D.X0() + 10, D.Y0() + 10, 326, 241));
    EXPECT_EQ(D.spedRight->value(), 0);
    EXPECT_EQ(D.spedDown->value(), 0);
    EXPECT_EQ(D.spedUp->value(), 10);

    // A drag inside the picture shows up in the spin edits.
    Drag({T->width() / 2, T->height() / 2}, {-5, -7});
    EXPECT_EQ(std::vector<int>({D.spedUp->value(), D.spedDown->value(), D.spedLeft->value(), D.spedRight->value()}),
              std::vector<int>({3, 7, 5, 5}));
    // Moving it down past the picture's bottom puts it back at its top when pressed.
    Drag({T->width() / 2, T->height() / 2}, {0, 12});
    EXPECT_EQ(T->y(), D.Y0() + 3);
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_EQ(R.CropLeft, BorderToSource(5, 720, 336));
    EXPECT_EQ(R.CropTop, BorderToSource(3, 576, 251));
}

TEST_F(TrimCropDialogs, CropOfAudioOnlyFileStoresZerosAndAutoFindsNoBorders) {
    TlvFilesRecord R = Row("tone.mp3");
    R.CropTop = 8;
    R.CropLeft = 4;
    TfrmCrop& D = OpenCrop(R);
    EXPECT_FALSE(D.RectTracker->isVisible());
    EXPECT_FALSE(D.spedUp->isEnabled());
    EXPECT_EQ(D.spedUp->value(), 0);
    EXPECT_FALSE(D.Timer1->isActive());
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    EXPECT_EQ(std::vector<int>({R.CropTop, R.CropLeft, R.CropBottom, R.CropRight}), std::vector<int>({0, 0, 0, 0}));

    TlvFilesRecord Clip = Row("clip.mp4");
    Clip.CropTop = Clip.CropBottom = 40;
    OpenCrop(Clip);
    EXPECT_TRUE(D.RectTracker->isVisible());
    QTest::mouseClick(D.btnAuto, Qt::LeftButton);
    EXPECT_EQ(std::vector<int>({D.spedUp->value(), D.spedDown->value(), D.spedLeft->value(), D.spedRight->value()}),
              std::vector<int>({0, 0, 0, 0}));
    EXPECT_TRUE(Messages.empty());
    D.reject();
}

TEST_F(TrimCropDialogs, FileThatCannotBeOpenedSaysSoAndLeavesTheRowAlone) {
    TlvFilesRecord R = Row("random.bin");
    R.TrimStart = 2000;
    R.TrimLength = 1000;
    R.CropTop = 8;
    TfrmTrim& T = OpenTrim(R);
    QCoreApplication::processEvents();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].rfind("Warning: ", 0), 0u);
    EXPECT_FALSE(T.btnOk->isEnabled());
    EXPECT_FALSE(T.btnReset->isEnabled());
    T.reject();
    TfrmCrop& C = OpenCrop(R);
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 2u);
    EXPECT_FALSE(C.btnOk->isEnabled());
    EXPECT_FALSE(C.RectTracker->isVisible());
    C.reject();
    EXPECT_EQ(std::vector<int>({R.TrimStart, R.TrimLength, R.CropTop}), std::vector<int>({2000, 1000, 8}));
}

TEST_F(TrimCropDialogs, AutoFindsTheBarsOfALetterBoxedClip) {
    // 640 x 360 pictures padded with 60 black rows above and below.
    const std::string Boxed = (ScratchFolder("letterbox") / "letterbox.avi").string();
    TOutputOptions Options;
    InitOutputOptions(Options);
    Options.FrameSize = "640x360";
    Options.PadTop = Options.PadBottom = 60;
    ASSERT_EQ(ConvertOnce(MediaPath("clip.mp4"), Options, Boxed), "");
    TlvFilesRecord R;
    R.SourceFile = Boxed;
    TfrmCrop& D = OpenCrop(R);
    ASSERT_EQ(D.FrameHeight(), 480);
    QTest::mouseClick(D.btnAuto, Qt::LeftButton);
    QTest::mouseClick(D.btnOk, Qt::LeftButton);
    // The coded block that holds a bar's edge rings in its bar rows, which
    // can then read as picture: at most half a block of bar is left.
    EXPECT_NEAR(R.CropTop, 58, 2);
    EXPECT_NEAR(R.CropBottom, 58, 2);
    EXPECT_EQ(R.CropLeft, 0);
    EXPECT_EQ(R.CropRight, 0);
}

// Typed into the real dialogs: after every message of the trim dialog the
// three fields agree with each other and OK stores what they show; a border
// typed into the crop dialog is taken, the dialog says what it means in the
// source's pixels and what picture it leaves, and OK stores that.
TEST_F(TrimCropDialogs, FieldsAgreeAfterEveryMessageAndTypedBordersAreTaken) {
    auto Type = [](QWidget* Field, const char* Text) {
        Field->setFocus();
        QTest::keyClick(Field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(Field, Text);
    };
    struct TTrimRow {
        const char* Name;
        int RecordStart, RecordLength;
        char Field;  // 's' or 'e'
        const char* Typed;
        const char* Message;
        const char *Start, *End, *Length;
        int TrimStart, TrimLength;
    };
    // long35.avi lasts 35 s.
    const TTrimRow TrimRows[] = {
        {"end before the start", 5000, 10000, 'e', "000003", "Warning: The end time cannot equal to the start time!!",
         "000005", "000035", "000030", 5000, 30000},
        {"end in the start's second", 5000, 10000, 'e', "000005",
         "Warning: The end time cannot equal to the start time!!", "000005", "000035", "000030", 5000, 30000},
        {"end past the duration", 5000, 10000, 'e', "000040", "Warning: Incorrect end time!", "000005", "000035",
         "000030", 5000, 30000},
        {"start after the end", 5000, 10000, 's', "000020", "Warning: Incorrect start time!", "000000", "000015",
         "000015", 0, 15000},
        {"start in the end's second", 5000, 10000, 's', "000015",
         "Warning: The start time cannot equal to the end time!", "000000", "000015", "000015", 0, 15000},
        {"seconds of 60 or more", 5000, 10000, 's', "000075", "Warning: Incorrect start time!", "000000", "000015",
         "000015", 0, 15000},
        {"an accepted end", 5000, 10000, 'e', "000020", nullptr, "000005", "000020", "000015", 5000, 15000},
        {"end 0 with start 0 says nothing", 0, 0, 'e', "000000", nullptr, "000000", "000000", "000000", 0, 0},
    };
    for (const TTrimRow& Row : TrimRows) {
        SCOPED_TRACE(Row.Name);
        Messages.clear();
        TlvFilesRecord R = this->Row("long35.avi");
        R.TrimStart = Row.RecordStart;
        R.TrimLength = Row.RecordLength;
        TfrmTrim& D = OpenTrim(R);
        QApplication::setActiveWindow(&D);
        ASSERT_EQ(D.Times().D, 35000);
        QLineEdit* Field = Row.Field == 's' ? D.maskedtStartTime : D.maskedtEndTime;
        Type(Field, Row.Typed);
        D.btnCancel->setFocus();  // leaving the field validates it
        EXPECT_EQ(Messages, Row.Message ? std::vector<std::string>{Row.Message} : std::vector<std::string>{});
        EXPECT_EQ(Digits(D.maskedtStartTime), Row.Start);
        EXPECT_EQ(Digits(D.maskedtEndTime), Row.End);
        EXPECT_EQ(Digits(D.maskedtLength), Row.Length);
        // The length is the end less the start as the fields read.
        const int64_t Shown = ReadTimeField(Digits(D.maskedtEndTime)).Ms - ReadTimeField(Digits(D.maskedtStartTime)).Ms;
        EXPECT_EQ(ReadTimeField(Digits(D.maskedtLength)).Ms, std::max<int64_t>(Shown, 0));
        QTest::mouseClick(D.btnOk, Qt::LeftButton);
        EXPECT_EQ(R.TrimStart, Row.TrimStart);
        EXPECT_EQ(R.TrimLength, Row.TrimLength);
    }

    struct TCropRow {
        const char* Spin;  // object name
        const char* Typed;
        int Value;
        QRect Tracker;  // from the picture rectangle's corner
        const char* Source;
        std::vector<int> Stored;  // top, bottom, left, right after OK
    };
    // pal_16x15.mp4: 720 x 576 shown as 768 x 576 in a 336 x 251 rectangle,
    // opened with 40 source rows cropped above and below (17 on screen);
    // the borders not typed into keep their source values.
    const TCropRow CropRows[] = {
        {"spedUp", "50", 50, QRect(0, 50, 336, 184),
         "Up 114, Down 40\nLeft 0, Right 0\nSource picture: 720 x 576\nCropped picture: 720 x 422", {114, 40, 0, 0}},
        {"spedLeft", "40", 40, QRect(40, 17, 296, 217),
         "Up 40, Down 40\nLeft 86, Right 0\nSource picture: 720 x 576\nCropped picture: 634 x 496", {40, 40, 86, 0}},
        {"spedRight", "300", 300, QRect(0, 17, 36, 217),
         "Up 40, Down 40\nLeft 0, Right 642\nSource picture: 720 x 576\nCropped picture: 78 x 496", {40, 40, 0, 642}},
        {"spedDown", "7", 7, QRect(0, 17, 336, 227),
         "Up 40, Down 16\nLeft 0, Right 0\nSource picture: 720 x 576\nCropped picture: 720 x 520", {40, 16, 0, 0}},
    };
    for (const TCropRow& Row : CropRows) {
        SCOPED_TRACE(Row.Spin);
        TlvFilesRecord R = this->Row("pal_16x15.mp4");
        R.CropTop = R.CropBottom = 40;
        TfrmCrop& D = OpenCrop(R);
        QApplication::setActiveWindow(&D);
        auto* Spin = D.findChild<QSpinBox*>(Row.Spin);
        ASSERT_NE(Spin, nullptr);
        Type(Spin, Row.Typed);
        QTest::keyClick(Spin, Qt::Key_Tab);  // a typed value counts when complete
        EXPECT_EQ(Spin->value(), Row.Value);
        EXPECT_EQ(D.RectTracker->geometry(), Row.Tracker.translated(D.X0(), D.Y0()));
        EXPECT_EQ(D.lblSourceCrop->text().toStdString(), Row.Source);
        QTest::mouseClick(D.btnOk, Qt::LeftButton);
        EXPECT_EQ(std::vector<int>({R.CropTop, R.CropBottom, R.CropLeft, R.CropRight}), Row.Stored);
    }
}

}  // namespace
