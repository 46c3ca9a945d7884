#pragma once
// Objects offered to clients of the D-Bus session bus: the class factory that
// creates them on request, the references that clients hold on them, and the
// bus activation file through which the bus starts this program for a client.
//
// Bus surface of a factory with ProgID P (for example "Vavaroz.Application"):
//   well-known name P, owned while the class object is registered;
//   object /P (dots turned into slashes), interface P.ClassFactory:
//     CreateInstance() -> o   a new object; the caller holds one reference
//     Hold() -> o             a new object held for as long as the call is
//                             pending: the reply comes only when the object is
//                             gone, and ending the caller's connection releases
//                             it (for shell clients, whose connection ends with
//                             each call)
//   each object at /P/Object<n>, with the class's own interface (which may be
//   empty) and interface P.Reference:
//     Release()               drops one reference of the caller
// A client that leaves the bus loses every reference it held. When the last
// reference goes the object is destroyed. A single-use class lets the name go
// after its first object, so the bus starts another process for the next
// client, and refuses further requests sent to this process's unique name.

#include <QDBusConnection>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

namespace didira {

// Base of every object that clients can hold.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    Q_DISABLE_COPY_MOVE(CCmdTarget)

    // Turns on the object's bus interface; a factory serves only objects that
    // have it on.
    void EnableAutomation() { m_bAutomationEnabled = true; }
    bool IsAutomationEnabled() const { return m_bAutomationEnabled; }

private:
    bool m_bAutomationEnabled = false;
};

// Why a class refused to create an object: a D-Bus error name and message.
struct CreateError {
    QString name;
    QString message;
};

// What a factory knows of the class it creates.
struct CRuntimeClass {
    const char* m_lpszClassName;
    // The object's own bus interface; it has no members.
    const char* m_lpszInterfaceName;
    // Creates an object, or returns null and fills the error.
    std::unique_ptr<CCmdTarget> (*m_pfnCreateObject)(CreateError& error);
};

class COleObjectFactory {
public:
    // Enters the factory in the module's list of factories. Safe to run during
    // static initialisation.
    COleObjectFactory(const char* classId, const CRuntimeClass& runtimeClass, bool bMultiInstance,
                      const char* progId);
    // Revokes the class object, if registered, and leaves the list.
    ~COleObjectFactory();
    Q_DISABLE_COPY_MOVE(COleObjectFactory)

    // Registers every factory's class object on the session bus.
    static bool RegisterAll();
    // Writes (TRUE) or removes (FALSE) every factory's activation file in the
    // user's bus service directory, for this executable.
    static bool UpdateRegistryAll(bool bRegister = true);

    // Serves the class object on a bus: exports the factory object and asks
    // for the well-known name (asynchronously, so start-up never waits on the
    // bus). Needs a QCoreApplication.
    bool Register(const QDBusConnection& bus);
    // Takes the class object and every live object off the bus; live objects
    // are destroyed.
    void Revoke();

    // Writes the activation file "<ProgID>.service" into servicesDir (created
    // if missing), starting exePath in server mode. Replaces the file
    // atomically; false when it cannot be written.
    bool UpdateRegistry(const QString& servicesDir, const QString& exePath) const;

    const char* m_lpszClassId;
    const char* m_lpszProgId;
    const CRuntimeClass& m_runtimeClass;
    bool m_bMultiInstance; // true: single use

    // Bus object path of the factory: "/" + ProgID with dots as slashes.
    QString FactoryPath() const;

private:
    class Server;
    friend class Server;
    QPointer<Server> m_pServer; // owned by the QCoreApplication (its Qt parent)
    COleObjectFactory* m_pNextFactory = nullptr;
};

// Command-line switch that starts this program in server mode; the activation
// file passes it.
inline constexpr char kServerSwitch[] = "-Embedding";

// The user's bus service directory: $XDG_DATA_HOME/dbus-1/services, with
// ~/.local/share when XDG_DATA_HOME is unset or not an absolute path.
QString UserServicesDir();

// The text of an activation file; empty when exePath cannot be written into
// one safely (relative, or holding a single quote, backslash or control
// character).
QString ActivationFileText(const QString& busName, const QString& classId, const QString& exePath);

} // namespace didira
