// The application object of the windowed program and its exception handler:
// an exception that escapes an event handler is shown in a message box and
// the event loop goes on.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

// Shows an exception as the handler does: the message with a full stop when
// it ends in a character after ".", the engine's exceptions with a warning
// icon, all others with an error icon, under the application title.
void ShowApplicationException(std::exception_ptr Error);

// Runs Deliver; an exception escaping it is shown and false returned.
bool DeliverGuarded(const std::function<bool()>& Deliver);

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& Argc, char** Argv);

    bool notify(QObject* Receiver, QEvent* Event) override;
};
