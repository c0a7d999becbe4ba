#include "widgets/Platform.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QUrl>
#include <filesystem>

namespace {

constexpr long Iso9660Magic = 0x9660;
constexpr long UdfMagic = 0x15013346;

TPlatformServices* Current = nullptr;

const QString AppName = "Tarn MP4 Video Converter";
// A bus that does not answer must not hold the window up for long.
constexpr int BusTimeoutMs = 2000;

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

int TPlatformServices::InhibitSleep(const std::string& Why) {
    QDBusConnection Bus = QDBusConnection::systemBus();
    if (!Bus.isConnected()) return -1;
    QDBusMessage Call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "Inhibit");
    Call << QString("sleep") << AppName << QString::fromStdString(Why) << QString("block");
    QDBusReply<QDBusUnixFileDescriptor> Reply = Bus.call(Call, QDBus::Block, BusTimeoutMs);
    if (!Reply.isValid() || !Reply.value().isValid()) return -1;
    // The lock lasts while a copy of the descriptor is open; the reply's own
    // copy closes with it.
    return fcntl(Reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void TPlatformServices::ReleaseSleep(int Handle) {
    if (Handle >= 0) close(Handle);
}

bool TPlatformServices::Notify(const std::string& Summary, const std::string& Body) {
    QDBusConnection Bus = QDBusConnection::sessionBus();
    const QString Service = "org.freedesktop.Notifications";
    if (!Bus.isConnected() || !Bus.interface() || !Bus.interface()->isServiceRegistered(Service)) return false;
    QDBusMessage Call =
        QDBusMessage::createMethodCall(Service, "/org/freedesktop/Notifications", Service, "Notify");
    Call << AppName << 0u << QString("org.tarn.Mp4VideoConverter") << QString::fromStdString(Summary)
         << QString::fromStdString(Body) << QStringList() << QVariantMap() << -1;
    return Bus.send(Call);
}

TPlatformServices& Platform() {
    static TPlatformServices Real;
    return Current ? *Current : Real;
}

void SetPlatform(TPlatformServices* Services) { Current = Services; }
