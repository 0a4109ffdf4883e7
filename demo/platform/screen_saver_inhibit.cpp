#include "screen_saver_inhibit.h"

#include <dbus/dbus.h>
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace Platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* serviceName = "org.freedesktop.ScreenSaver";
// How long a frame-free thread waits for the bus at a time: a wish is acted on within it.
constexpr int tickMs = 100;
// Before asking again after a refusal, a bus gone or an Inhibit never answered.
constexpr seconds retryAfter{5};
constexpr seconds answerAwaited{30};
// What the goodbye may take to go out before the connection is closed regardless.
constexpr milliseconds goodbyeWithin{250};

template <typename Function>
bool find(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// libdbus's entry points, found at run time: neither the library's presence nor its version
// decides whether the show runs. Never unloaded: the library keeps global state of its own.
struct BusLibrary {
    void* handle = nullptr;
    decltype(&dbus_connection_open_private) open = nullptr;
    decltype(&dbus_connection_set_exit_on_disconnect) setExitOnDisconnect = nullptr;
    decltype(&dbus_connection_add_filter) addFilter = nullptr;
    decltype(&dbus_connection_read_write_dispatch) readWriteDispatch = nullptr;
    decltype(&dbus_connection_has_messages_to_send) hasMessagesToSend = nullptr;
    decltype(&dbus_connection_send) send = nullptr;
    decltype(&dbus_connection_send_with_reply) sendWithReply = nullptr;
    decltype(&dbus_connection_close) close = nullptr;
    decltype(&dbus_connection_unref) connectionUnref = nullptr;
    decltype(&dbus_message_new_method_call) newMethodCall = nullptr;
    decltype(&dbus_message_append_args) appendArgs = nullptr;
    decltype(&dbus_message_get_args) getArgs = nullptr;
    decltype(&dbus_message_is_signal) isSignal = nullptr;
    decltype(&dbus_message_get_type) messageType = nullptr;
    decltype(&dbus_message_unref) messageUnref = nullptr;
    decltype(&dbus_pending_call_get_completed) pendingCompleted = nullptr;
    decltype(&dbus_pending_call_steal_reply) pendingStealReply = nullptr;
    decltype(&dbus_pending_call_cancel) pendingCancel = nullptr;
    decltype(&dbus_pending_call_unref) pendingUnref = nullptr;

    BusLibrary()
    {
        handle = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle == nullptr)
            return;
        if (!find(handle, "dbus_connection_open_private", open) ||
            !find(handle, "dbus_connection_set_exit_on_disconnect", setExitOnDisconnect) ||
            !find(handle, "dbus_connection_add_filter", addFilter) ||
            !find(handle, "dbus_connection_read_write_dispatch", readWriteDispatch) ||
            !find(handle, "dbus_connection_has_messages_to_send", hasMessagesToSend) ||
            !find(handle, "dbus_connection_send", send) ||
            !find(handle, "dbus_connection_send_with_reply", sendWithReply) ||
            !find(handle, "dbus_connection_close", close) || !find(handle, "dbus_connection_unref", connectionUnref) ||
            !find(handle, "dbus_message_new_method_call", newMethodCall) ||
            !find(handle, "dbus_message_append_args", appendArgs) ||
            !find(handle, "dbus_message_get_args", getArgs) || !find(handle, "dbus_message_is_signal", isSignal) ||
            !find(handle, "dbus_message_get_type", messageType) ||
            !find(handle, "dbus_message_unref", messageUnref) ||
            !find(handle, "dbus_pending_call_get_completed", pendingCompleted) ||
            !find(handle, "dbus_pending_call_steal_reply", pendingStealReply) ||
            !find(handle, "dbus_pending_call_cancel", pendingCancel) ||
            !find(handle, "dbus_pending_call_unref", pendingUnref)) {
            dlclose(handle);
            handle = nullptr;
        }
    }
    ~BusLibrary()
    {
        if (handle != nullptr)
            dlclose(handle);
    }
    BusLibrary(const BusLibrary&) = delete;
    BusLibrary& operator=(const BusLibrary&) = delete;
};

// One connection to the bus and the inhibit held through it. Every call is sent without waiting
// for its answer, which dispatch picks up later: nothing here blocks on the bus but the wait
// for its socket, bounded by the tick.
class Session {
public:
    Session(const BusLibrary& bus, const std::string& address)
        : bus(bus)
    {
        connection = bus.open(address.c_str(), nullptr);
        if (connection == nullptr)
            return;
        // A bus that goes away must not end the show (libdbus would exit the process).
        bus.setExitOnDisconnect(connection, FALSE);
        bus.addFilter(connection, &Session::filter, this, nullptr);
        // The bus's greeting first, then word of the service coming, going or changing hands.
        sendCall(newBusCall("Hello"));
        DBusMessage* match = newBusCall("AddMatch");
        const char* rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                           "member='NameOwnerChanged',arg0='org.freedesktop.ScreenSaver'";
        if (match != nullptr && bus.appendArgs(match, DBUS_TYPE_STRING, &rule, DBUS_TYPE_INVALID) != 0)
            sendCall(match);
        else if (match != nullptr)
            bus.messageUnref(match);
    }

    ~Session()
    {
        if (connection == nullptr)
            return;
        // An Inhibit still unanswered is forgotten: the service drops what it grants a client
        // that has left the bus.
        if (pending != nullptr) {
            bus.pendingCancel(pending);
            bus.pendingUnref(pending);
        }
        if (inhibited) {
            unInhibit();
            const Clock::time_point until = Clock::now() + goodbyeWithin;
            while (bus.hasMessagesToSend(connection) != 0 && Clock::now() < until &&
                   bus.readWriteDispatch(connection, 10) != 0) {
            }
        }
        bus.close(connection);
        bus.connectionUnref(connection);
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool connected() const { return connection != nullptr && !lost; }

    // Brings the inhibit to what is wanted, then waits up to `waitMs` for the bus.
    void step(bool wanted, int waitMs)
    {
        const Clock::time_point now = Clock::now();
        if (pending != nullptr && bus.pendingCompleted(pending) != 0)
            takeAnswer();
        else if (pending != nullptr && now - askedAt > answerAwaited) {
            bus.pendingCancel(pending);
            bus.pendingUnref(pending);
            pending = nullptr;
            askAt = now;
        }
        if (serviceChanged) {
            // A cookie is the granting service's: one that went or changed hands knows it no
            // more. One that came is asked at once (an answer still due is awaited first).
            serviceChanged = false;
            inhibited = false;
            if (servicePresent)
                askAt = now;
        }
        if (wanted && !inhibited && pending == nullptr && now >= askAt)
            inhibit(now);
        else if (!wanted && inhibited)
            unInhibit();
        if (bus.readWriteDispatch(connection, waitMs) == 0)
            lost = true;
    }

private:
    DBusMessage* newBusCall(const char* method)
    {
        return bus.newMethodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, method);
    }

    DBusMessage* newServiceCall(const char* method)
    {
        return bus.newMethodCall(serviceName, "/org/freedesktop/ScreenSaver", serviceName, method);
    }

    void sendCall(DBusMessage* message)
    {
        if (message == nullptr)
            return;
        bus.send(connection, message, nullptr);
        bus.messageUnref(message);
    }

    void inhibit(Clock::time_point now)
    {
        DBusMessage* message = newServiceCall("Inhibit");
        if (message == nullptr)
            return;
        const char* application = "demo";
        const char* reason = "playing the show";
        askedAt = now;
        askAt = now + retryAfter;
        if (bus.appendArgs(message, DBUS_TYPE_STRING, &application, DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID) !=
                0 &&
            bus.sendWithReply(connection, message, &pending, DBUS_TIMEOUT_INFINITE) == 0)
            pending = nullptr;
        bus.messageUnref(message);
    }

    void unInhibit()
    {
        inhibited = false;
        DBusMessage* message = newServiceCall("UnInhibit");
        if (message == nullptr)
            return;
        if (bus.appendArgs(message, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID) != 0)
            bus.send(connection, message, nullptr);
        bus.messageUnref(message);
    }

    void takeAnswer()
    {
        DBusMessage* reply = bus.pendingStealReply(pending);
        bus.pendingUnref(pending);
        pending = nullptr;
        if (reply == nullptr)
            return;
        // An error (no such service now) carries no cookie: asked again when the service comes,
        // and after a while in any case.
        inhibited = bus.messageType(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
                    bus.getArgs(reply, nullptr, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID) != 0;
        bus.messageUnref(reply);
        // Granted: the next play asks at once.
        if (inhibited)
            askAt = {};
    }

    static DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* data)
    {
        auto* session = static_cast<Session*>(data);
        const BusLibrary& bus = session->bus;
        const char* name = nullptr;
        const char* oldOwner = nullptr;
        const char* newOwner = nullptr;
        if (bus.isSignal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") != 0 &&
            bus.getArgs(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                        &newOwner, DBUS_TYPE_INVALID) != 0 &&
            std::strcmp(name, serviceName) == 0) {
            session->serviceChanged = true;
            session->servicePresent = newOwner[0] != '\0';
        }
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }

    const BusLibrary& bus;
    DBusConnection* connection = nullptr;
    bool lost = false;
    DBusPendingCall* pending = nullptr; // an Inhibit not yet answered
    Clock::time_point askedAt{};
    Clock::time_point askAt{}; // the next Inhibit, while wanted and not held
    bool inhibited = false;
    dbus_uint32_t cookie = 0;
    bool serviceChanged = false;
    bool servicePresent = false;
};

} // namespace

struct ScreenSaverInhibit::Keeper {
    std::string address;
    std::mutex mutex;
    std::condition_variable changed;
    bool wanted = false;
    bool stopping = false;
    bool finished = false;

    // The thread: one session at a time, a new one a while after a bus that is not there or went.
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
        {
            const BusLibrary bus;
            lock.lock();
            keepUp(bus, lock);
        }
        finished = true;
        changed.notify_all();
    }

    void keepUp(const BusLibrary& bus, std::unique_lock<std::mutex>& lock)
    {
        Clock::time_point connectAt = Clock::now();
        while (!stopping && bus.handle != nullptr) {
            if (!wanted || Clock::now() < connectAt) {
                changed.wait_until(lock, connectAt > Clock::now() ? connectAt : Clock::now() + seconds(3600),
                                   [this, connectAt] { return stopping || (wanted && Clock::now() >= connectAt); });
                continue;
            }
            lock.unlock();
            {
                Session session(bus, address);
                bool stop = false;
                while (session.connected() && !stop) {
                    bool wish = false;
                    {
                        const std::lock_guard<std::mutex> hold(mutex);
                        wish = wanted;
                        stop = stopping;
                    }
                    if (!stop)
                        session.step(wish, tickMs);
                }
            } // the goodbye
            lock.lock();
            connectAt = Clock::now() + retryAfter;
        }
    }
};

ScreenSaverInhibit::ScreenSaverInhibit(const std::string& address)
{
    if (address.empty())
        return;
    keeper = std::make_shared<Keeper>();
    keeper->address = address;
    std::thread([keeper = keeper] { keeper->run(); }).detach();
}

ScreenSaverInhibit::~ScreenSaverInhibit()
{
    if (!keeper)
        return;
    std::unique_lock<std::mutex> lock(keeper->mutex);
    keeper->stopping = true;
    keeper->changed.notify_all();
    // A bus that holds the thread longer (an address that takes long to reach) keeps it to the
    // process's end; the shared keeper stays alive for it.
    keeper->changed.wait_for(lock, seconds(1), [this] { return keeper->finished; });
}

void ScreenSaverInhibit::want(bool inhibited)
{
    if (!keeper)
        return;
    const std::lock_guard<std::mutex> lock(keeper->mutex);
    if (keeper->wanted == inhibited)
        return;
    keeper->wanted = inhibited;
    keeper->changed.notify_all();
}

} // namespace Platform
