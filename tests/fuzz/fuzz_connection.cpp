// Arbitrary bytes through a real connection: a real listener and connection handler, a shared
// folder with files, folders and links out of it, and every method and form of the server.
//
// Input: one control byte, then the bytes the client sends before it closes its side. The control
// byte picks the access mode (bits 0-1: none, password, Basic), a shared single file instead of
// the folder (bit 2), and the pieces the client sends (bits 3-7: 0 all at once, else 1 to 31
// times 61 bytes).
//
// What must hold: nothing outside the share is read, listed, created, changed or deleted; the
// connection ends once the client has gone; nothing crashes or leaks (the sanitizers watch).

#include "fuzzsupport.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    if (size < 1)
        return 0;
    Fuzz::Tree &tree = Fuzz::Tree::instance();
    static Fuzz::Server *server = new Fuzz::Server;

    const quint8 control = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    tree.reset();
    server->profile.authMode = AuthMode(control & 3);
    server->singleFile = control & 4;
    server->root = QFileInfo(server->singleFile ? tree.share(QStringLiteral("a.txt")) : tree.share());
    const int piece = (control >> 3) * 61;

    const QByteArray answer = Fuzz::exchange(server, bytes, piece);
    tree.checkCanary(answer);
    Fuzz::checkDescriptors(bytes);
    return 0;
}
