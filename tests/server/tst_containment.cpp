// Nothing outside the shared folder is read, listed, created, changed or deleted, whatever path
// a client names: each attack path is sent with every method, as a form value ("f", "d"), as
// an upload's file name, as a Destination, to the listing service, and behind the icon and
// thumbnail prefixes; and while a link in the share is flipped between a place inside and one
// outside as fast as a thread can, every method keeps running through it. A canary folder next
// to the share is compared before and after, and no answer may carry the canary's contents or
// the name of a file that only a listing of it shows.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "web/html_element_manager.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

// In the canary folder only; no request names it, so only a listing of that folder shows it.
const QByteArray HiddenName = "only-a-listing-shows-7q";
// Stands for the absolute file-system path of the canary folder.
const QByteArray OutsideMark = "@OUTSIDE@";

QByteArray form(const QByteArray &target, const QByteArray &body)
{
    return formPost(target, body, "Connection: close\r\n");
}

QByteArray upload(const QByteArray &target, const QByteArray &fileName)
{
    return uploadPost(target, fileName, "uploaded bytes", "Connection: close\r\n");
}

QByteArray request(const QByteArray &method, const QByteArray &target, const QByteArray &headers = QByteArray(),
                   const QByteArray &body = QByteArray())
{
    QByteArray bytes = method + ' ' + target + " HTTP/1.1\r\nConnection: close\r\n" + headers;
    if (!body.isEmpty())
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return bytes + "\r\n" + body;
}

} // namespace

class TestContainment : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingOutsideTheShareIsTouched_data();
    void nothingOutsideTheShareIsTouched();
    void walksStayInsideTheShare_data();
    void walksStayInsideTheShare();
    void linkFlippedMidRequestNeverLeadsOut_data();
    void linkFlippedMidRequestNeverLeadsOut();

private:
    // Everything in the temporary folder but the share: names, kinds, sizes, times, contents.
    QStringList canary() const;

    TestServer *ts = nullptr;
};

void TestContainment::init()
{
    ts = new TestServer;
    // Thumbnails on: the "/_t/" prefix is served by the thumbnail manager.
    ts->startThumbnails();
    ts->put(QStringLiteral("a.txt"), "contents of a");
    ts->put(QStringLiteral("sub/inner.txt"), "inner");
    ts->put(QStringLiteral("picture.jpg"), "not really a picture");
    ts->writeFile(ts->outsidePath(QString::fromLatin1(HiddenName) + QStringLiteral(".txt")), TestServer::Secret);
    ts->writeFile(ts->outsidePath(QStringLiteral("deep/inner.txt")), TestServer::Secret);
    QVERIFY(QFile::link(ts->outsidePath(), ts->path(QStringLiteral("outlink"))));
    QVERIFY(QFile::link(ts->outsidePath(QStringLiteral("secret.txt")), ts->path(QStringLiteral("filelink"))));
    QVERIFY(QFile::link(ts->outsidePath(QStringLiteral("created.txt")), ts->path(QStringLiteral("dangling"))));
    QVERIFY(QFile::link(QStringLiteral("../../outside"), ts->path(QStringLiteral("sub/up"))));
    // A folder beside the share whose name begins with the share's own.
    ts->writeFile(ts->path() + QStringLiteral("-twin/secret.txt"), TestServer::Secret);
    QVERIFY(QFile::link(ts->path() + QStringLiteral("-twin"), ts->path(QStringLiteral("twinlink"))));
    ts->config.enableUpload = CheckState::On;
    ts->config.enableDelete = CheckState::On;
    ts->config.showFolders = CheckState::On;
    ts->config.showImages = CheckState::On;
    QVERIFY(ts->start());
}

void TestContainment::cleanup()
{
    delete ts;
    ts = nullptr;
}

QStringList TestContainment::canary() const
{
    QStringList lines;
    const QString top = ts->dir.path();
    QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        // The share, and the home folder where the thumbnails are kept.
        if (!(info.filePath() + u'/').startsWith(ts->path() + u'/') && !info.filePath().startsWith(ts->homePath()))
            lines.append(info.filePath().mid(top.size()) + u' ' + info.symLinkTarget() + u' '
                         + QString::number(info.lastModified().toMSecsSinceEpoch()) + u' '
                         + QString::fromLatin1(info.isFile() ? TestServer::readFile(info.filePath()).toBase64() : ""));
    }
    lines.sort();
    return lines;
}

void TestContainment::nothingOutsideTheShareIsTouched_data()
{
    QTest::addColumn<QByteArray>("path");

    const char *const paths[] = {
        // dot segments, plain and percent-encoded in every way
        "/../secret.txt",
        "/../outside/secret.txt",
        "/..",
        "/sub/../../outside/secret.txt",
        "/%2e%2e/outside/secret.txt",
        "/.%2e/outside/secret.txt",
        "/..%2foutside%2fsecret.txt",
        "/%252e%252e/outside/secret.txt",
        "/..\\outside\\secret.txt",
        "/..%5coutside%5csecret.txt",
        "/%c0%ae%c0%ae/outside/secret.txt",
        "/a.txt%00/../../outside/secret.txt",
        "/%00",
        "/SUB/../../outside/secret.txt",
        "../outside/secret.txt",
        "outside/secret.txt",
        "*",
        "http://127.0.0.1/../outside/secret.txt",
        "@OUTSIDE@/secret.txt",
        "/outlink/secret.txt",
        "/outlink",
        "/outlink%2fsecret.txt",
        "/filelink",
        "/dangling",
        "/sub/up/secret.txt",
        "/twinlink/secret.txt",
        "/..;/outside/secret.txt",
    };
    for (const char *path : paths)
        QTest::newRow(path) << QByteArray(path);
}

void TestContainment::nothingOutsideTheShareIsTouched()
{
    QFETCH(QByteArray, path);
    const QByteArray outside = QUrl::toPercentEncoding(ts->outsidePath(), "/");
    path.replace(OutsideMark, outside);
    const QStringList before = canary();
    const QByteArray host = "http://127.0.0.1:" + QByteArray::number(ts->port());

    // The path bare and behind each prefix; a thumbnail is named by its file's path in the share
    // (an absolute path after the prefix is taken as one in the share too).
    const QByteArray bare = path.startsWith('/') ? path.mid(1) : path;
    const QList<QByteArray> targets{path, "/_i/" + bare, "/_t/" + bare, "/_t/" + outside + '/' + bare};

    QList<std::pair<QByteArray, QByteArray>> requests;
    for (const QByteArray &target : targets) {
        requests += {
            {"GET " + target, request("GET", target)},
            {"GET of an archive " + target, request("GET", target + "?a=zip")},
            {"POST a=cfd to " + target, form(target, "a=cfd&f=made-here")},
            {"POST a=del to " + target, form(target, "a=del&d=sub&f=a.txt")},
            {"form upload to " + target, upload(target, "up-here.txt")},
            {"PUT " + target, request("PUT", target, QByteArray(), "pwned")},
            {"DELETE " + target, request("DELETE", target)},
            {"MKCOL " + target, request("MKCOL", target)},
            {"COPY from " + target, request("COPY", target, "Destination: " + host + "/copied\r\n")},
            {"MOVE from " + target, request("MOVE", target, "Destination: /moved\r\n")},
            {"PROPFIND " + target, request("PROPFIND", target, "Depth: 1\r\n")},
            {"listing service, recursive " + target, request("PROPFIND", target + "?r=1&p=*", "User-Agent: mc\r\n")},
            {"LOCK " + target, request("LOCK", target, "Timeout: Second-60\r\n")},
        };
    }
    // The path as a value: form fields, an upload's file name, a Destination.
    requests += {
        {"a=cfd f=", form("/", "a=cfd&f=" + path)},
        {"a=del d=", form("/", "a=del&d=" + path)},
        {"archive naming it", request("GET", "/?a=zip&n=" + path)},
        {"upload file name", upload("/", path)},
        {"COPY to it", request("COPY", "/a.txt", "Destination: " + path + "\r\n")},
        {"MOVE to it, absolute URL, overwriting",
         request("MOVE", "/picture.jpg", "Destination: " + host + path + "\r\nOverwrite: T\r\n")},
        {"MOVE a folder to it", request("MOVE", "/sub", "Destination: " + host + path + "\r\n")},
    };
    for (const auto &[what, bytes] : requests) {
        const QByteArray answer = ts->rawExchange(bytes);
        QVERIFY2(!answer.contains(TestServer::Secret) && !answer.contains(HiddenName),
                 qPrintable(what + ": " + answer.left(300)));
        QVERIFY2(canary() == before, qPrintable(what + " changed: " + canary().join(u'\n')));
    }

    // The server is still there (the files inside may all have moved).
    HttpClient client(ts->port());
    QCOMPARE(client.exchange("OPTIONS / HTTP/1.1\r\n\r\n").code, 200);
}

void TestContainment::walksStayInsideTheShare_data()
{
    // In the share's folder d: good.txt, inner/deep.txt, the links evil (to a file outside),
    // evildir (to the folder outside), inlink (to a.txt of the share), conflink (to a file of
    // the profile folder), and the profile folder .kestrune itself, as when the home folder is
    // shared. No answer holds a secret, the profile's names or the absolute path of the folders.
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArrayList>("shown"); // in the answer
    QTest::addColumn<bool>("listing");         // nor may the answer name what it must not list
    QTest::addColumn<QString>("files");        // in the share afterwards; "!name": not in it
    const auto row = [](const char *name, const QByteArray &request, const QByteArrayList &shown, bool listing,
                        const char *files = "") {
        QTest::addRow("%s", name) << request << shown << listing << QString::fromLatin1(files);
    };

    row("COPY of the folder", request("COPY", "/d", "Destination: /d2\r\n"),
        {"207 Multi-Status", "/d/good.txt</href><status>HTTP/1.1 200 OK", "/d/inner/deep.txt</href>",
         "/d/evil</href><status>HTTP/1.1 403 Forbidden", "/d/.kestrune</href><status>HTTP/1.1 403 Forbidden"},
        false, "d2/good.txt d2/inner/deep.txt d2/inlink !d2/evil !d2/evildir !d2/.kestrune !d2/conflink");
    row("DELETE of the folder", request("DELETE", "/d"), {"423 Locked"}, false,
        "!d/good.txt !d/inner !d/evil !d/evildir !d/inlink !d/conflink");
    row("delete action on the folder", form("/", "a=del&d=d"), {" delete /d failed,"}, false,
        "!d/good.txt !d/inner !d/evil !d/inlink");
    row("delete action naming the profile folder", form("/d", "a=del&d=.kestrune"), {" delete /d/.kestrune failed,"},
        false, "d/good.txt");
    row("folder page", request("GET", "/d"), {"good.txt", "inlink", "inner"}, true);
    row("PROPFIND, Depth 1", request("PROPFIND", "/d", "Depth: 1\r\n"), {"/d/good.txt<", "/d/inlink<", "/d/inner<"}, true);
    row("listing service, recursive from the top", request("PROPFIND", "/?r=1", "User-Agent: mc\r\n"),
        {"/d/inner/deep.txt\r\n"}, true);
    row("folder as one archive", request("GET", "/d/?a=zip"),
        {"200 OK", "good.txt", "inner/deep.txt", "inlink", "contents of a"}, true);
    row("archive naming the profile folder", request("GET", "/d/?a=zip&n=good.txt&n=.kestrune"), {"404 Not Found"}, true);
    row("archive naming a link out", request("GET", "/d/?a=zip&n=evil"), {"404 Not Found"}, true);
    row("find by name", request("GET", "/?a=find&q=e"), {"200 OK", "\"/d/inner\"", "\"/d/inner/deep.txt\""}, true);
    row("upload into the profile folder", upload("/d/.kestrune/", "up.txt"), {"403 Forbidden"}, false,
        "!d/.kestrune/up.txt");
    row("upload through a link into the profile folder", upload("/d/conflinkdir/", "up.txt"), {"403 Forbidden"}, false,
        "!d/.kestrune/up.txt");
    row("MOVE of the folder that holds the profile folder", request("MOVE", "/d", "Destination: /moved\r\n"),
        {"403 Forbidden"}, false, "!moved");
    row("MOVE onto the folder that holds the profile folder",
        request("MOVE", "/sub", "Destination: /d\r\nOverwrite: T\r\n"), {"403 Forbidden"}, false, "sub/inner.txt");
    // Links that stay in the share lead where they point, by an absolute path or up and down.
    row("GET through an absolute link inside", request("GET", "/d/inlink"), {"200 OK", "contents of a"}, false);
    row("GET through a relative link up and down the share", request("GET", "/d/insub/inner.txt"),
        {"200 OK", "\r\n\r\ninner"}, false);
    row("PUT through a link to a folder inside", request("PUT", "/d/insub/put.txt", QByteArray(), "put"),
        {"201 Created"}, false, "sub/put.txt");
    row("GET of a folder named like the profile folder", request("GET", "/d/.kestrune-old/notes.txt"),
        {"200 OK", "old notes"}, false);
    row("GET through a link into the profile folder", request("GET", "/d/conflink"), {"403 Forbidden"}, false);
}

void TestContainment::walksStayInsideTheShare()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArrayList, shown);
    QFETCH(bool, listing);
    QFETCH(QString, files);

    ts->put(QStringLiteral("d/good.txt"), "good");
    ts->put(QStringLiteral("d/inner/deep.txt"), "deep");
    ts->put(QStringLiteral("d/.kestrune/Global.conf"), "profile password");
    ts->put(QStringLiteral("d/.kestrune/inner/Work.cnf"), "profile password too");
    ts->put(QStringLiteral("d/.kestrune-old/notes.txt"), "old notes");
    QVERIFY(QFile::link(ts->outsidePath(QStringLiteral("secret.txt")), ts->path(QStringLiteral("d/evil"))));
    QVERIFY(QFile::link(ts->outsidePath(), ts->path(QStringLiteral("d/evildir"))));
    QVERIFY(QFile::link(ts->path(QStringLiteral("a.txt")), ts->path(QStringLiteral("d/inlink"))));
    QVERIFY(QFile::link(ts->path(QStringLiteral("d/.kestrune/Global.conf")), ts->path(QStringLiteral("d/conflink"))));
    QVERIFY(QFile::link(ts->path(QStringLiteral("d/.kestrune")), ts->path(QStringLiteral("d/conflinkdir"))));
    QVERIFY(QFile::link(QStringLiteral("../sub"), ts->path(QStringLiteral("d/insub"))));
    // The server's profile folder lies in the share.
    const QString profiles = Configuration::ConfigDir;
    Configuration::ConfigDir = ts->path(QStringLiteral("d/.kestrune/"));
    const auto restore = qScopeGuard([&profiles] { Configuration::ConfigDir = profiles; });
    const QStringList before = canary();

    const QByteArray answer = ts->rawExchange(request);
    QByteArrayList hidden{TestServer::Secret, "profile password", HiddenName, "Global.conf", ts->dir.path().toUtf8()};
    if (listing)
        hidden += QByteArrayList{"evil", ".kestrune\"", ".kestrune/", ".kestrune<", "conflink"};
    for (const QByteArray &text : shown)
        QVERIFY2(answer.contains(text), qPrintable(text + " not in: " + answer));
    for (const QByteArray &text : hidden)
        QVERIFY2(!answer.contains(text), qPrintable(text + " in: " + answer));
    const QStringList names = files.split(u' ', Qt::SkipEmptyParts) << QStringLiteral("d/.kestrune/inner/Work.cnf");
    for (const QString &name : names) {
        const QFileInfo info(ts->path(name.mid(name.startsWith(u'!') ? 1 : 0)));
        QVERIFY2((info.exists() || info.isSymLink()) == !name.startsWith(u'!'), qPrintable(name));
    }
    QCOMPARE(QFile(ts->path(QStringLiteral("d/.kestrune/Global.conf"))).size(), qint64(16));
    QCOMPARE(canary(), before);
}

void TestContainment::linkFlippedMidRequestNeverLeadsOut_data()
{
    // share/l/flip leads to the folder share/inside or to the canary folder, share/l/flipfile to
    // inside/secret.txt or to the canary's secret.txt; both change all the time.
    QTest::addColumn<QByteArray>("request");

    // A request with a body is answered once its body is in: the body is sent after the link
    // was flipped, between the check of the request's path and the answer (a PUT is answered
    // before its body, an MKCOL with one is refused).
    const QByteArray x = "x";
    QTest::addRow("GET through the link") << request("GET", "/l/flip/secret.txt", QByteArray(), x);
    QTest::addRow("GET of the link") << request("GET", "/l/flipfile", "Range: bytes=0-99\r\n", x);
    QTest::addRow("folder page through the link") << request("GET", "/l/flip/", QByteArray(), x);
    QTest::addRow("archive of the links' folder") << request("GET", "/l/?a=zip", QByteArray(), x);
    QTest::addRow("find by name in the links' folder") << request("GET", "/l/?a=find&q=s", QByteArray(), x);
    QTest::addRow("PUT through the link") << request("PUT", "/l/flip/secret.txt", QByteArray(), "replaced");
    QTest::addRow("PUT of the link") << request("PUT", "/l/flipfile", QByteArray(), "replaced");
    QTest::addRow("COPY through the link") << request("COPY", "/l/flip/secret.txt", "Destination: /copied.txt\r\n", x);
    QTest::addRow("COPY into the link") << request("COPY", "/a.txt", "Destination: /l/flip/secret.txt\r\n", x);
    QTest::addRow("MOVE through the link")
        << request("MOVE", "/l/flip/secret.txt", "Destination: /moved.txt\r\nOverwrite: T\r\n", x);
    QTest::addRow("MOVE into the link")
        << request("MOVE", "/a.txt", "Destination: /l/flip/secret.txt\r\nOverwrite: T\r\n", x);
    QTest::addRow("DELETE through the link") << request("DELETE", "/l/flip/secret.txt", QByteArray(), x);
    QTest::addRow("MKCOL through the link") << request("MKCOL", "/l/flip/made/deeper");
    QTest::addRow("PROPFIND through the link") << request("PROPFIND", "/l/flip/", "Depth: 1\r\n", x);
    QTest::addRow("delete action through the link") << form("/l/flip", "a=del&f=secret.txt&d=folder");
    QTest::addRow("upload through the link") << upload("/l/flip/", "up.txt");
}

void TestContainment::linkFlippedMidRequestNeverLeadsOut()
{
    QFETCH(QByteArray, request);
    const QByteArray inside = "the copy inside";
    ts->put(QStringLiteral("inside/folder/x.txt"), inside);
    QVERIFY(ts->mkdir(QStringLiteral("l")));
    ts->writeFile(ts->outsidePath(QStringLiteral("folder/x.txt")), TestServer::Secret);
    const QStringList before = canary();

    std::atomic<bool> stop(false);
    std::atomic<unsigned> flips(0);
    std::thread flipper([this, &stop, &flips] {
        const QByteArray share = QFile::encodeName(ts->path());
        const QByteArray outside = QFile::encodeName(ts->outsidePath());
        // Inside every other time; outside by a relative and by an absolute path.
        const QByteArray folders[] = {"../inside", "../../outside", "../inside", outside};
        const QByteArray files[] = {"../inside/secret.txt", "../../outside/secret.txt", "../inside/secret.txt",
                                    outside + "/secret.txt"};
        const QByteArray fresh = share + "/l/.flip-new";
        const QByteArray flip = share + "/l/flip";
        const QByteArray flipFile = share + "/l/flipfile";
        for (unsigned n = 0; !stop; ++n) {
            // A link changed in one step, as rename() replaces a name.
            if (::symlink(folders[n % 4].constData(), fresh.constData()) == 0)
                ::rename(fresh.constData(), flip.constData());
            if (::symlink(files[n % 4].constData(), fresh.constData()) == 0)
                ::rename(fresh.constData(), flipFile.constData());
            ++flips;
        }
    });
    const auto finish = [&] {
        stop = true;
        if (flipper.joinable())
            flipper.join();
    };
    const auto joined = qScopeGuard(finish);

    QElapsedTimer running;
    running.start();
    int requests = 0;
    const qsizetype headSize = request.indexOf("\r\n\r\n") + 4;
    while (running.elapsed() < 2000 || requests < 800) {
        // What the requests take away comes back.
        for (const auto &[name, content] : {std::pair{"a.txt", QByteArray("contents of a")}, {"inside/secret.txt", inside}}) {
            if (!ts->exists(QLatin1String(name)))
                ts->put(QLatin1String(name), content);
        }
        // Several at once, so that many are handled while the links change.
        std::vector<HttpClient> clients(8);
        for (HttpClient &client : clients)
            QVERIFY(client.connectTo(ts->port()));
        const qint64 received = ts->server->traffic.receivedBytes;
        for (HttpClient &client : clients)
            client.send(request.left(headSize));
        if (headSize < request.size()) {
            // The heads are read and their paths checked; the links change before the bodies come.
            const unsigned flipped = flips;
            const QDeadlineTimer deadline(HttpClient::Timeout);
            while ((ts->server->traffic.receivedBytes < received + 8 * headSize || flips < flipped + 2)
                   && !deadline.hasExpired())
                QCoreApplication::processEvents();
            for (HttpClient &client : clients)
                client.send(request.mid(headSize));
        }
        for (HttpClient &client : clients) {
            const QByteArray answer = client.readUntilClosed();
            ++requests;
            QVERIFY2(!answer.isEmpty() && !answer.contains(TestServer::Secret) && !answer.contains(HiddenName),
                     request + ": " + answer.left(300));
        }
    }
    finish();
    QCOMPARE(canary(), before);
    // Nothing of the canary was copied into the share either.
    QDirIterator it(ts->path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!QFileInfo(path).isSymLink())
            QVERIFY2(!TestServer::readFile(path).contains(TestServer::Secret), qPrintable(path));
    }
}

QTEST_GUILESS_MAIN(TestContainment)
#include "tst_containment.moc"
