#ifndef SERVERTHREAD_H
#define SERVERTHREAD_H

#include "server/http_request.h"
#include "server/responder.h"
#include "server/response.h"

#include <QList>
#include <QObject>
#include <QTimer>

class Configuration;
class ServerContext;

// Handles one client connection from accept to close (an object on the event loop, not a
// thread): parses each request and has the listener's responder check access, pick the
// response and start it.
class ServerThread : public QObject, private Socket::Handler
{
    Q_OBJECT

public:
    // A connection of the listener whose state is `listener`.
    ServerThread(ServerContext *listener, QObject *parent);

    // Whether the response held is of `kind` (Plain: any); if not, it is dropped.
    bool checkResponse(ResponseKind kind);

    ServerContext *const context;
    HTTP_Request request;
    Response *response = nullptr;

public slots:
    void readyRead();

private:
    enum class Awaiting { Nothing, Form, Body, Prefetch, Turn };

    // Applies what the parsed head says about the connection: keep-alive, the session its
    // cookie names, the body that follows.
    void useHead();
    void headArrived() override { readyRead(); }
    void bodyArrived() override;
    void becameIdle() override;
    void bodyFailed() override;
    void authorize();
    void dispatch();
    void answer(const char *status);
    void finish();
    void dropResponse();
    Response *responseFor(ResponseKind kind);
    // responseFor(), as the responder asks for it.
    Responder::ResponseFor held()
    {
        return [this](ResponseKind kind) { return responseFor(kind); };
    }

    // While a head or a body is handled here, a response dropped may still be on the stack: it
    // is deleted when the handling returns (no posted event), otherwise later.
    class Handling
    {
    public:
        explicit Handling(ServerThread *thread);
        ~Handling();
        Handling(const Handling &) = delete;
        Handling &operator=(const Handling &) = delete;

    private:
        ServerThread *thread; // null within another handling
    };

    // The profile the request in hand was accepted with, in use until it is answered: the row may
    // change its profile meanwhile, and the profile dialog removes only a profile nobody uses.
    class ProfileUse
    {
    public:
        ProfileUse() = default;
        ~ProfileUse() { use(nullptr); }
        ProfileUse(const ProfileUse &) = delete;
        ProfileUse &operator=(const ProfileUse &) = delete;
        void use(Configuration *c);
        Configuration *operator->() const { return profile; }
        Configuration *get() const { return profile; }

    private:
        Configuration *profile = nullptr;
    };

    Awaiting awaiting = Awaiting::Nothing;
    ProfileUse profile;
    // Runs out when a password attempt of this client may be checked (GuessDelay).
    QTimer turn;
    QString peer; // the client's address as text
    QByteArray localHost; // the address the connection came in on, as a Host header names it
    bool handling = false;
    Response *dropped = nullptr;
};

#endif
