#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/webserver.h"

#include <QDir>
#include <QTest>

namespace {

const QByteArray FormType = "multipart/form-data; boundary=----Bound4ry";

using Files = QMap<QString, QByteArray>;

// A form body of file parts ("name" and its data) and fields (a null name: a field named after
// the data), in order.
QByteArray formBody(const QList<std::pair<QByteArray, QByteArray>> &parts)
{
    QByteArray body;
    for (const auto &[name, data] : parts) {
        body += "------Bound4ry\r\nContent-Disposition: form-data; ";
        body += name.isNull() ? "name=\"" + data + "\"\r\n\r\n" + data
                              : "name=\"f\"; filename=\"" + name + "\"\r\nContent-Type: text/plain\r\n\r\n" + data;
        body += "\r\n";
    }
    return body + "------Bound4ry--\r\n";
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void upload_data();
    void upload();
    void slowClient_data();
    void slowClient();

private:
    std::unique_ptr<TestServer> web;
};

void TestUpload::init()
{
    web.reset();
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
}

void TestUpload::upload_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<Files>("stored"); // the files new in the share, by name

    const QByteArray data = bigData(100000);
    const QByteArray sent = "File sent success.";
    const QByteArray refused = "File send failed: Unsupported browser or no file selected.";
    const QByteArray cutShort = "File send failed: Network error or unsupported browser.";
    const auto one = [](const char *name, const QByteArray &bytes) { return Files{{QString::fromUtf8(name), bytes}}; };
    const auto row = [](const char *name, const QByteArray &body, const QByteArray &message, const Files &stored,
                        const QByteArray &contentType = FormType) {
        QTest::newRow(name) << contentType << body << message << stored;
    };
    const QByteArray tricky = QByteArray(3000, 'a') + "\r\n------Bound4" + QByteArray(300, 'b') + "\r\n--";
    row("near-delimiters in the data", multipartBody("----Bound4ry", "t.bin", tricky), sent, one("t.bin", tricky));
    row("windows client path", multipartBody("----Bound4ry", "C:\\Users\\me\\photo.jpg", data), sent,
        one("photo.jpg", data));
    // The part headers as they come: read by name, in any case, parameters quoted or not.
    const auto withPartHeaders = [](const QByteArray &headers, const QByteArray &data) {
        return "------Bound4ry\r\n" + headers + "\r\n" + data + "\r\n------Bound4ry--\r\n";
    };
    row("unquoted name before another parameter",
        withPartHeaders("content-disposition:form-data; name=f; filename=plain.txt; size=1\r\n", "p"), sent,
        one("plain.txt", "p"));
    row("filename= inside another parameter's value",
        withPartHeaders("Content-Disposition: form-data; name=\"xfilename=evil.txt\"; filename=\"real.txt\"\r\n", "r"),
        sent, one("real.txt", "r"));
    row("another header ending in -ition is not the disposition",
        withPartHeaders("Content-Type: text/plain\r\nContent-Disposition: form-data; filename=\"real.txt\"\r\n"
                        "Content-Composition: form-data; filename=\"evil.txt\"\r\n", "r"),
        sent, one("real.txt", "r"));
    // A delimiter counts only when "--" or the line end (after blanks) follows it.
    const QByteArray lookalike = "AA\r\n------Bound4ryX and more\r\n------Bound4ry-x";
    row("delimiter followed by a letter is content", multipartBody("----Bound4ry", "look.bin", lookalike), sent,
        one("look.bin", lookalike));
    row("blanks between the delimiter and its line end",
        "------Bound4ry\r\nContent-Disposition: form-data; name=\"f\"; filename=\"pad.txt\"\r\n\r\npadded"
        "\r\n------Bound4ry \t\r\nContent-Disposition: form-data; name=\"submit\"\r\n\r\nSend\r\n------Bound4ry--\r\n",
        sent, one("pad.txt", "padded"));
    row("existing name", multipartBody("----Bound4ry", "exists.txt", "new"), "File send failed: File exists", {});
    row("no file chosen", multipartBody("----Bound4ry", "", ""), refused, {});
    row("no boundary", multipartBody("----Bound4ry", "nb.txt", "x"), refused, {}, "multipart/form-data");
    row("name dot dot", multipartBody("----Bound4ry", "..", "x"), refused, {});
    QByteArray cut = multipartBody("----Bound4ry", "cut.bin", data);
    cut.chop(cut.size() - cut.indexOf("\r\n------Bound4ry", 200));
    row("no closing delimiter", cut, cutShort, {});
    // Every file of a form is stored, each as if it came alone.
    const QByteArray second = bigData(70001, 1);
    row("two files", formBody({{"one.bin", data}, {"two.bin", second}, {{}, "Send"}}), sent,
        Files{{QStringLiteral("one.bin"), data}, {QStringLiteral("two.bin"), second}});
    row("a later name taken: the others are stored",
        formBody({{"new.txt", "n"}, {"exists.txt", "x"}, {"last.txt", second}}), "File send failed: File exists",
        Files{{QStringLiteral("new.txt"), "n"}, {QStringLiteral("last.txt"), second}});
    row("a later name that is not one", formBody({{"ok.txt", "o"}, {"..", "x"}}), refused, one("ok.txt", "o"));
    QByteArray cutLater = formBody({{"kept.txt", "k"}, {"cut.bin", data}});
    cutLater.chop(5000);
    row("the body cut in a later file: the whole ones are kept", cutLater, cutShort, one("kept.txt", "k"));
    row("a later part whose headers never end",
        formBody({{"first.txt", "f"}}).replace("------Bound4ry--", "------Bound4ry\r\n" + QByteArray(9000, 'h')),
        cutShort, one("first.txt", "f"));
}

void TestUpload::upload()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, message);
    QFETCH(Files, stored);
    QVERIFY(web->start());
    QVERIFY(web->write("exists.txt", "old"));
    const QStringList before = web->names();

    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.multipart("/", contentType, body);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    QStringList after = web->names();
    for (auto file = stored.cbegin(); file != stored.cend(); ++file) {
        QCOMPARE(web->read(file.key()), file.value());
        QVERIFY(after.removeOne(file.key()));
    }
    QCOMPARE(after, before);
    QCOMPARE(web->read("exists.txt"), QByteArray("old"));
    // The message was shown once.
    QCOMPARE(messageOf(client.get("/").body), QByteArray());
}
void TestUpload::slowClient_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("split"); // where the body is cut into two pieces
    QTest::addColumn<QString>("then");

    // The server holds back the end of a piece that may begin a delimiter; when the next piece
    // shows it was content, those bytes go to the file.
    const QByteArray held = QByteArray(200000, 'a') + "\r\n------Bound4ry-not-yet\r\n--x";
    QTest::addRow("piece ending in a delimiter's start")
        << held << int(multipartBody("----Bound4ry", "part.bin", held).indexOf("\r\n------Bound4ry-not") + 10)
        << QStringLiteral("rest");
    // Whatever ends the upload, the part written is removed.
    const QByteArray data = bigData(1000000);
    QTest::addRow("client goes away") << data << 60000 << QStringLiteral("abort");
    QTest::addRow("client closes its side") << data << 60000 << QStringLiteral("close");
    QTest::addRow("server stops") << data << 60000 << QStringLiteral("stop");
    QTest::addRow("traffic limit") << data << 60000 << QStringLiteral("limit");
}

void TestUpload::slowClient()
{
    QFETCH(QByteArray, data);
    QFETCH(int, split);
    QFETCH(QString, then);
    if (then == QLatin1String("limit"))
        web->config.dataLimitKB = 64;
    QVERIFY(web->start());
    HttpClient client(web->port(), HttpClient::Browser);
    QVERIFY(client.connectTo(web->port()));
    const QByteArray body = multipartBody("----Bound4ry", "part.bin", data);
    const QByteArray head = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + FormType
                            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    client.send(head + body.left(split));
    // The upload is under way: part of the file is written, under no name at all.
    QTRY_VERIFY(web->server->traffic.receivedBytes >= head.size() + split);
    QTest::qWait(100);
    QVERIFY(QDir(web->share).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
    if (then == QLatin1String("rest")) {
        client.send(body.mid(split));
        QTRY_VERIFY(client.received.contains("</html>"));
        QCOMPARE(web->read("part.bin"), data);
        return;
    }
    if (then == QLatin1String("abort"))
        client.socket.abort();
    else if (then == QLatin1String("close"))
        client.socket.disconnectFromHost();
    else if (then == QLatin1String("stop"))
        web->server->stopAll();
    else
        client.send(body.mid(split, 100000)); // crosses the 64 KB limit
    QTRY_VERIFY(QDir(web->share).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
