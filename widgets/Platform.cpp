#include "widgets/Platform.h"

#include <sys/vfs.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QUrl>
#include <filesystem>

namespace {

constexpr long Iso9660Magic = 0x9660;
constexpr long UdfMagic = 0x15013346;

TPlatformServices* Current = nullptr;

}  // namespace

bool TPlatformServices::OpenUrl(const std::string& Url) {
    QUrl Address = QUrl::fromUserInput(QString::fromStdString(Url));
    return Address.isValid() && QDesktopServices::openUrl(Address);
}

bool TPlatformServices::OpenFolder(const std::string& Folder) {
    return !Folder.empty() && QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(Folder)));
}

bool TPlatformServices::PowerOff() {
    QDBusInterface Manager("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           QDBusConnection::systemBus());
    if (!Manager.isValid()) return false;
    // false: no interactive authorisation prompt, nobody may be at the desk.
    QDBusReply<void> Reply = Manager.call("PowerOff", false);
    return Reply.isValid();
}

bool TPlatformServices::IsCdRom(const std::string& Folder) {
    // A folder not made yet lies on the file system of its nearest parent.
    std::filesystem::path At(Folder);
    struct statfs Info {};
    while (!At.empty()) {
        if (statfs(At.c_str(), &Info) == 0) {
            long Type = static_cast<long>(Info.f_type);
            return Type == Iso9660Magic || Type == UdfMagic;
        }
        std::filesystem::path Parent = At.parent_path();
        if (Parent == At) break;
        At = Parent;
    }
    return false;
}

TPlatformServices& Platform() {
    static TPlatformServices Real;
    return Current ? *Current : Real;
}

void SetPlatform(TPlatformServices* Services) { Current = Services; }
