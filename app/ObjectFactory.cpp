#include "app/ObjectFactory.h"

#include "app/BusNames.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <map>
#include <vector>

namespace didira {

namespace {

constinit COleObjectFactory* s_pFirstFactory = nullptr;

// True for characters that need no quoting in an activation file's Exec line.
bool IsPlainPathChar(QChar c) {
    return c.isLetterOrNumber() || QStringLiteral("/._+-,:@=").contains(c);
}

} // namespace

// ---------------------------------------------------------------------------
// The class object on the bus and the objects it has handed out.

class COleObjectFactory::Server final : public QObject {
public:
    Server(COleObjectFactory& factory, const QDBusConnection& bus);
    ~Server() override;
    Q_DISABLE_COPY_MOVE(Server)

    // Exports the factory object and asks for the well-known name.
    bool Start();

private:
    // A bus node whose requests go to the server.
    class Node final : public QDBusVirtualObject {
    public:
        Node(Server& server, QString path, QString introspection)
            : m_server(server), m_path(std::move(path)), m_introspection(std::move(introspection)) {
        }
        QString introspect(const QString&) const override { return m_introspection; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
            return m_server.HandleMessage(m_path, message);
        }

    private:
        Server& m_server;
        QString m_path;
        QString m_introspection;
    };

    struct LiveObject {
        std::unique_ptr<CCmdTarget> object;
        std::unique_ptr<Node> node;
        std::map<QString, int> refs;         // client unique name -> references
        std::vector<QDBusMessage> holdCalls; // pending Hold calls, answered when the object goes
    };

    bool HandleMessage(const QString& path, const QDBusMessage& message);
    void CreateInstance(const QDBusMessage& call, bool hold);
    void Release(const QString& path, const QDBusMessage& call);
    void SendError(const QDBusMessage& call, const QString& name, const QString& text);
    void DropClient(const QString& client);
    void WatchClient(const QString& client);
    void DestroyIfUnreferenced(const QString& path);
    void ReleaseName();
    QString ErrorName(const char* suffix) const;

    COleObjectFactory& m_factory;
    QDBusConnection m_bus;
    QString m_progId;
    QString m_factoryPath;
    std::unique_ptr<Node> m_factoryNode;
    QDBusServiceWatcher m_clientWatcher;
    std::map<QString, LiveObject> m_objects;
    bool m_bNameRequested = false;
    bool m_bUsed = false; // a single-use class has created its object
    unsigned m_nNextObject = 1;
};

COleObjectFactory::Server::Server(COleObjectFactory& factory, const QDBusConnection& bus)
    : QObject(QCoreApplication::instance()), m_factory(factory), m_bus(bus),
      m_progId(QString::fromLatin1(factory.m_lpszProgId)), m_factoryPath(factory.FactoryPath()),
      m_clientWatcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
    QObject::connect(&m_clientWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                     &Server::DropClient);
}

COleObjectFactory::Server::~Server() {
    ReleaseName();
    if (m_factoryNode)
        m_bus.unregisterObject(m_factoryPath);
    // Objects go with the class object; pending Hold calls learn it.
    auto objects = std::move(m_objects);
    m_objects.clear();
    for (auto& [path, live] : objects) {
        m_bus.unregisterObject(path);
        for (const QDBusMessage& call : live.holdCalls)
            m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        live.object.reset();
    }
}

bool COleObjectFactory::Server::Start() {
    const QString iface = m_progId + QStringLiteral(".ClassFactory");
    m_factoryNode = std::make_unique<Node>(
        *this, m_factoryPath,
        QStringLiteral("  <interface name=\"%1\">\n"
                       "    <method name=\"CreateInstance\">\n"
                       "      <arg name=\"object\" type=\"o\" direction=\"out\"/>\n"
                       "    </method>\n"
                       "    <method name=\"Hold\">\n"
                       "      <arg name=\"object\" type=\"o\" direction=\"out\"/>\n"
                       "    </method>\n"
                       "  </interface>\n")
            .arg(iface));
    if (!m_bus.registerVirtualObject(m_factoryPath, m_factoryNode.get(),
                                     QDBusConnection::SingleNode)) {
        m_factoryNode.reset();
        return false;
    }
    m_bNameRequested = RequestBusName(m_bus, m_progId);
    return m_bNameRequested;
}

QString COleObjectFactory::Server::ErrorName(const char* suffix) const {
    return m_progId + QStringLiteral(".Error.") + QString::fromLatin1(suffix);
}

void COleObjectFactory::Server::ReleaseName() {
    if (!m_bNameRequested)
        return;
    m_bNameRequested = false;
    QDBusMessage release = BusDaemonCall("ReleaseName");
    release << m_progId;
    m_bus.send(release);
}

void COleObjectFactory::Server::SendError(const QDBusMessage& call, const QString& name,
                                          const QString& text) {
    m_bus.send(call.createErrorReply(name, text));
}

bool COleObjectFactory::Server::HandleMessage(const QString& path, const QDBusMessage& message) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString iface = message.interface();
    const QString member = message.member();
    const bool onFactory = path == m_factoryPath;
    const QStringList ours =
        onFactory ? QStringList{m_progId + QStringLiteral(".ClassFactory")}
                  : QStringList{m_progId + QStringLiteral(".Reference"),
                                QString::fromLatin1(m_factory.m_runtimeClass.m_lpszInterfaceName)};
    if (!iface.isEmpty() && !ours.contains(iface))
        return false; // the standard interfaces, or an unknown one
    const bool known =
        onFactory
            ? member == QLatin1String("CreateInstance") || member == QLatin1String("Hold")
            : member == QLatin1String("Release") && (iface.isEmpty() || iface == ours.first());
    if (!known && iface.isEmpty())
        return false; // perhaps a member of a standard interface
    if (!known) {
        SendError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                  QStringLiteral("No method %1 in %2").arg(member, iface));
        return true;
    }
    if (!message.signature().isEmpty()) {
        SendError(message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                  member + QStringLiteral(" takes no arguments"));
        return true;
    }
    if (onFactory)
        CreateInstance(message, member == QLatin1String("Hold"));
    else
        Release(path, message);
    return true;
}

void COleObjectFactory::Server::CreateInstance(const QDBusMessage& call, bool hold) {
    if (m_bUsed) {
        SendError(call, ErrorName("ClassRevoked"),
                  QStringLiteral("This process has already served its client; ask for %1 again "
                                 "and the bus starts a new one")
                      .arg(m_progId));
        return;
    }
    CreateError error;
    std::unique_ptr<CCmdTarget> object = m_factory.m_runtimeClass.m_pfnCreateObject(error);
    if (!object || !object->IsAutomationEnabled()) {
        SendError(call, error.name.isEmpty() ? ErrorName("CreateFailed") : error.name,
                  error.message.isEmpty() ? QStringLiteral("The object could not be created")
                                          : error.message);
        return;
    }

    const QString path =
        m_factoryPath + QStringLiteral("/Object") + QString::number(m_nNextObject++);
    const QString ownIface = QString::fromLatin1(m_factory.m_runtimeClass.m_lpszInterfaceName);
    auto node = std::make_unique<Node>(*this, path,
                                       QStringLiteral("  <interface name=\"%1\">\n"
                                                      "  </interface>\n"
                                                      "  <interface name=\"%2.Reference\">\n"
                                                      "    <method name=\"Release\"/>\n"
                                                      "  </interface>\n")
                                           .arg(ownIface, m_progId));
    if (!m_bus.registerVirtualObject(path, node.get(), QDBusConnection::SingleNode)) {
        SendError(call, ErrorName("CreateFailed"),
                  QStringLiteral("The object could not be offered on the bus"));
        return;
    }

    const QString client = call.service();
    LiveObject& live = m_objects[path];
    live.object = std::move(object);
    live.node = std::move(node);
    live.refs[client] = 1;
    if (hold) {
        call.setDelayedReply(true);
        live.holdCalls.push_back(call);
    }

    // The name goes before the reply leaves, so a client that has its answer
    // and asks again already reaches a new process.
    if (m_factory.m_bMultiInstance) {
        m_bUsed = true;
        ReleaseName();
    }
    if (!hold)
        m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(path))));
    WatchClient(client);
}

void COleObjectFactory::Server::WatchClient(const QString& client) {
    if (m_clientWatcher.watchedServices().contains(client))
        return;
    m_clientWatcher.addWatchedService(client);
    // The client may have left before the watch was in place: ask the bus.
    QDBusMessage query = BusDaemonCall("NameHasOwner");
    query << client;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(query), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, client](QDBusPendingCallWatcher* w) {
                         QDBusPendingReply<bool> reply = *w;
                         w->deleteLater();
                         if (reply.isValid() && !reply.value())
                             DropClient(client);
                     });
}

void COleObjectFactory::Server::Release(const QString& path, const QDBusMessage& call) {
    auto it = m_objects.find(path);
    if (it == m_objects.end()) {
        SendError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                  QStringLiteral("No object at %1").arg(path));
        return;
    }
    const QString client = call.service();
    auto ref = it->second.refs.find(client);
    if (ref == it->second.refs.end()) {
        SendError(call, ErrorName("NotHeld"),
                  QStringLiteral("The caller holds no reference on %1").arg(path));
        return;
    }
    if (--ref->second == 0)
        it->second.refs.erase(ref);
    // Answer first: destroying the last object may end this process.
    m_bus.send(call.createReply());
    DestroyIfUnreferenced(path);
}

void COleObjectFactory::Server::DropClient(const QString& client) {
    m_clientWatcher.removeWatchedService(client);
    QStringList paths;
    for (auto& [path, live] : m_objects) {
        if (live.refs.erase(client) == 0)
            continue;
        std::erase_if(live.holdCalls,
                      [&](const QDBusMessage& call) { return call.service() == client; });
        paths << path;
    }
    for (const QString& path : std::as_const(paths))
        DestroyIfUnreferenced(path);
}

void COleObjectFactory::Server::DestroyIfUnreferenced(const QString& path) {
    auto it = m_objects.find(path);
    if (it == m_objects.end() || !it->second.refs.empty())
        return;
    LiveObject live = std::move(it->second);
    m_objects.erase(it);
    m_bus.unregisterObject(path);
    for (const QDBusMessage& call : live.holdCalls)
        m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(path))));
    // Last: the object's destructor may end the process's main window.
    live.object.reset();
}

// ---------------------------------------------------------------------------

COleObjectFactory::COleObjectFactory(const char* classId, const CRuntimeClass& runtimeClass,
                                     bool bMultiInstance, const char* progId)
    : m_lpszClassId(classId), m_lpszProgId(progId), m_runtimeClass(runtimeClass),
      m_bMultiInstance(bMultiInstance), m_pNextFactory(s_pFirstFactory) {
    s_pFirstFactory = this;
}

COleObjectFactory::~COleObjectFactory() {
    Revoke();
    for (COleObjectFactory** link = &s_pFirstFactory; *link; link = &(*link)->m_pNextFactory) {
        if (*link == this) {
            *link = m_pNextFactory;
            break;
        }
    }
}

QString COleObjectFactory::FactoryPath() const {
    return QLatin1Char('/') +
           QString::fromLatin1(m_lpszProgId).replace(QLatin1Char('.'), QLatin1Char('/'));
}

bool COleObjectFactory::Register(const QDBusConnection& bus) {
    if (m_pServer)
        return true;
    if (!QCoreApplication::instance() || !bus.isConnected())
        return false;
    auto* server = new Server(*this, bus); // owned by the QCoreApplication
    if (!server->Start()) {
        delete server;
        return false;
    }
    m_pServer = server;
    return true;
}

void COleObjectFactory::Revoke() {
    // After the QCoreApplication has gone the server has gone with it.
    delete m_pServer.data();
    m_pServer.clear();
}

bool COleObjectFactory::RegisterAll() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    bool ok = true;
    for (COleObjectFactory* f = s_pFirstFactory; f; f = f->m_pNextFactory)
        ok = f->Register(bus) && ok;
    return ok;
}

bool COleObjectFactory::UpdateRegistryAll(bool bRegister) {
    const QString dir = UserServicesDir();
    bool ok = true;
    for (COleObjectFactory* f = s_pFirstFactory; f; f = f->m_pNextFactory) {
        if (bRegister) {
            ok = f->UpdateRegistry(dir, QCoreApplication::applicationFilePath()) && ok;
        } else {
            const QString file = dir + QLatin1Char('/') + QString::fromLatin1(f->m_lpszProgId) +
                                 QStringLiteral(".service");
            ok = (!QFile::exists(file) || QFile::remove(file)) && ok;
        }
    }
    return ok;
}

bool COleObjectFactory::UpdateRegistry(const QString& servicesDir, const QString& exePath) const {
    const QString text = ActivationFileText(QString::fromLatin1(m_lpszProgId),
                                            QString::fromLatin1(m_lpszClassId), exePath);
    if (text.isEmpty() || !QDir().mkpath(servicesDir))
        return false;
    QSaveFile file(servicesDir + QLatin1Char('/') + QString::fromLatin1(m_lpszProgId) +
                   QStringLiteral(".service"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// ---------------------------------------------------------------------------

QString UserServicesDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/dbus-1/services");
}

QString ActivationFileText(const QString& busName, const QString& classId, const QString& exePath) {
    if (exePath.isEmpty() || QDir::isRelativePath(exePath))
        return {};
    bool plain = true;
    for (QChar c : exePath) {
        // The bus splits the Exec line like a shell; these would need escapes
        // that the file format itself may also interpret, or break the line.
        if (c == QLatin1Char('\'') || c == QLatin1Char('\\') ||
            c.category() == QChar::Other_Control)
            return {};
        plain = plain && IsPlainPathChar(c);
    }
    const QString exec = plain ? exePath : QLatin1Char('\'') + exePath + QLatin1Char('\'');
    return QStringLiteral("# Starts Didira for clients of its automation object.\n"
                          "# Rewritten by every normal start of Didira.\n"
                          "[D-BUS Service]\n"
                          "Name=%1\n"
                          "Exec=%2 %3\n"
                          "X-Vavaroz-ClassId=%4\n")
        .arg(busName, exec, QString::fromLatin1(kServerSwitch), classId);
}

} // namespace didira
