#include "gui/Application.h"

#include "app/GlobalUnit.h"

namespace {

// The title for exceptions raised after the main window freed GlobalObject.
constexpr const char* FallbackTitle = "Tarn MP4 Video Converter";

std::string Title() { return GlobalObject ? GlobalObject->AppTitle() : std::string(FallbackTitle); }

}  // namespace

void ShowApplicationException(std::exception_ptr Error) {
    if (!Error) return;
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& E) {
        ShowException(E, Title());
    } catch (...) {
        ShowMessageBox(Title(), "An unknown error occurred.", TMessageKind::Error);
    }
}

bool DeliverGuarded(const std::function<bool()>& Deliver) {
    try {
        return Deliver();
    } catch (...) {
        ShowApplicationException(std::current_exception());
        return false;
    }
}

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
    return DeliverGuarded([&] { return QApplication::notify(Receiver, Event); });
}
