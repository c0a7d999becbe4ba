// The application's exception handler in a real event loop: an exception
// escaping an event handler or a slot is shown and the loop goes on.
#include <gtest/gtest.h>

#include <QTimer>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/GlobalUnit.h"
#include "engine/FFmpeg.h"
#include "gui/Application.h"

namespace {

class TThrowingObject : public QObject {
public:
    bool event(QEvent* Event) override {
        if (Event->type() == QEvent::User) throw FFMpegException("Could not write header for output file #0");
        if (Event->type() == QEvent::User + 1) ++Delivered;
        return QObject::event(Event);
    }
    int Delivered = 0;
};

}  // namespace

TEST(GuiApplicationTest, ExceptionsFromEventsAndSlotsAreShownAndTheLoopGoesOn) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int Argc = 1;
    char Name[] = "gui_app_test";
    char* Argv[] = {Name, nullptr};
    TApplication App(Argc, Argv);
    std::vector<std::pair<std::string, TMessageKind>> Shown;
    SetMessageFunction([&](const std::string& Caption, const std::string& Text, TMessageKind Kind) {
        EXPECT_EQ(Caption, "Tarn MP4 Video Converter");
        Shown.emplace_back(Text, Kind);
    });

    TThrowingObject Target;
    QCoreApplication::postEvent(&Target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&Target, new QEvent(QEvent::Type(QEvent::User + 1)));
    QTimer::singleShot(0, &Target, [] { throw std::runtime_error("The slot failed"); });
    QTimer::singleShot(20, &App, &QCoreApplication::quit);
    App.exec();

    ASSERT_EQ(Shown.size(), 2u);
    EXPECT_EQ(Shown[0].first, "Could not write header for output file #0.");
    EXPECT_EQ(Shown[0].second, TMessageKind::Warning);
    EXPECT_EQ(Shown[1].first, "The slot failed.");
    EXPECT_EQ(Shown[1].second, TMessageKind::Error);
    EXPECT_EQ(Target.Delivered, 1);
    SetMessageFunction({});
}
