// What the program asks of the desktop: open a web address or a folder,
// power the computer off, keep it awake during a batch, show a notification,
// tell whether a folder lies on a CD or DVD.
// Tests replace the whole set, so no test opens a browser or powers off.
#pragma once

#include <string>

class TPlatformServices {
public:
    virtual ~TPlatformServices() = default;
    // Opens the address (http, https or file) with the desktop's handler.
    virtual bool OpenUrl(const std::string& Url);
    // Opens the folder in the file manager.
    virtual bool OpenFolder(const std::string& Folder);
    // Powers the computer off through logind, without asking.
    virtual bool PowerOff();
    // True when Folder lies on an ISO 9660 or UDF file system.
    virtual bool IsCdRom(const std::string& Folder);
    // Keeps the computer from sleeping until ReleaseSleep gets the handle
    // returned; -1 where logind does not answer.
    virtual int InhibitSleep(const std::string& Why);
    virtual void ReleaseSleep(int Handle);
    // A desktop notification, sent without waiting; false where there is
    // no notification service.
    virtual bool Notify(const std::string& Summary, const std::string& Body);
};

// The services in use; SetPlatform(nullptr) restores the real ones. The
// caller keeps ownership of what it sets.
TPlatformServices& Platform();
void SetPlatform(TPlatformServices* Services);
