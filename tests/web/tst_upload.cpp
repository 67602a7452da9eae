#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/webserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(size);
    for (char &c : data)
        c = char(random.bounded(256));
    return data;
}

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
    void cleanup();

    void upload_data();
    void upload();
    void uploadIntoSubfolder();
    void uploadFromPagedUrl();
    void failedUploadKeepsEarlierFile_data();
    void failedUploadKeepsEarlierFile();
    void twoUploadsOnOneConnection();
    void interrupted_data();
    void interrupted();

private:
    std::unique_ptr<TestServer> web;
};

void TestUpload::init()
{
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
}

void TestUpload::cleanup()
{
    web.reset();
}

void TestUpload::upload_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<Files>("stored"); // the files new in the share, by name

    const QByteArray data = randomBytes(100000);
    QTest::addRow("a file") << FormType << multipartBody("----Bound4ry", "a.bin", data)
                            << QByteArray("File sent success.") << Files{{QStringLiteral("a.bin"), data}};
    QTest::addRow("empty file") << FormType << multipartBody("----Bound4ry", "e.txt", "")
                                << QByteArray("File sent success.") << Files{{QStringLiteral("e.txt"), QByteArray()}};
    const QByteArray tricky = QByteArray(3000, 'a') + "\r\n------Bound4" + QByteArray(300, 'b') + "\r\n--";
    QTest::addRow("near-delimiters in the data") << FormType << multipartBody("----Bound4ry", "t.bin", tricky)
        << QByteArray("File sent success.") << Files{{QStringLiteral("t.bin"), tricky}};
    QTest::addRow("windows client path") << FormType << multipartBody("----Bound4ry", "C:\\Users\\me\\photo.jpg", data)
        << QByteArray("File sent success.") << Files{{QStringLiteral("photo.jpg"), data}};
    // Browsers send the name in UTF-8.
    QTest::addRow("utf-8 name") << FormType << multipartBody("----Bound4ry", "\xC3\xA4.txt", "u")
        << QByteArray("File sent success.") << Files{{QString::fromUtf8("\xC3\xA4.txt"), QByteArray("u")}};
    // The Content-Disposition parameters as they come, after "form-data; ".
    const auto withParameters = [](const QByteArray &parameters, const QByteArray &data) {
        return "------Bound4ry\r\nContent-Disposition: form-data; " + parameters
               + "\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n------Bound4ry--\r\n";
    };
    QTest::addRow("unquoted name") << FormType << withParameters("name=\"f\"; filename=unquoted.bin", "u")
        << QByteArray("File sent success.") << Files{{QStringLiteral("unquoted.bin"), QByteArray("u")}};
    QTest::addRow("unquoted name before another parameter") << FormType
        << withParameters("name=f; filename=plain.txt; size=1", "p")
        << QByteArray("File sent success.") << Files{{QStringLiteral("plain.txt"), QByteArray("p")}};
    QTest::addRow("filename= inside another parameter's value") << FormType
        << withParameters("name=\"xfilename=evil.txt\"; filename=\"real.txt\"", "r")
        << QByteArray("File sent success.") << Files{{QStringLiteral("real.txt"), QByteArray("r")}};
    // The part headers are read by name, in any case, with or without blanks after the colon.
    const auto withPartHeaders = [](const QByteArray &headers, const QByteArray &data) {
        return "------Bound4ry\r\n" + headers + "\r\n" + data + "\r\n------Bound4ry--\r\n";
    };
    QTest::addRow("part header name in lower case") << FormType
        << withPartHeaders("content-disposition: form-data; name=\"f\"; filename=\"lower.txt\"\r\n", "l")
        << QByteArray("File sent success.") << Files{{QStringLiteral("lower.txt"), QByteArray("l")}};
    QTest::addRow("no blank after the colon") << FormType
        << withPartHeaders("Content-Disposition:form-data;filename=\"tight.txt\"\r\n", "t")
        << QByteArray("File sent success.") << Files{{QStringLiteral("tight.txt"), QByteArray("t")}};
    QTest::addRow("disposition after the part's type") << FormType
        << withPartHeaders("Content-Type: text/plain\r\nContent-Disposition: form-data; filename=\"late.txt\"\r\n", "d")
        << QByteArray("File sent success.") << Files{{QStringLiteral("late.txt"), QByteArray("d")}};
    QTest::addRow("another header ending in -ition is not the disposition") << FormType
        << withPartHeaders("Content-Disposition: form-data; filename=\"real.txt\"\r\n"
                           "Content-Composition: form-data; filename=\"evil.txt\"\r\n", "r")
        << QByteArray("File sent success.") << Files{{QStringLiteral("real.txt"), QByteArray("r")}};
    // A delimiter counts only when "--" or the line end follows it.
    const QByteArray lookalike = "AA\r\n------Bound4ryX and more of the file";
    QTest::addRow("delimiter followed by a letter is content") << FormType
        << multipartBody("----Bound4ry", "look.bin", lookalike)
        << QByteArray("File sent success.") << Files{{QStringLiteral("look.bin"), lookalike}};
    const QByteArray dashed = "AA\r\n------Bound4ry-x\r\n------Bound4ry\tx";
    QTest::addRow("blanks between the delimiter and its line end")
        << FormType
        << QByteArray("------Bound4ry\r\nContent-Disposition: form-data; name=\"f\"; filename=\"pad.txt\"\r\n\r\npadded"
           "\r\n------Bound4ry \t\r\nContent-Disposition: form-data; name=\"submit\"\r\n\r\nSend\r\n------Bound4ry--\r\n")
        << QByteArray("File sent success.") << Files{{QStringLiteral("pad.txt"), QByteArray("padded")}};
    QTest::addRow("existing name") << FormType << multipartBody("----Bound4ry", "exists.txt", "new")
        << QByteArray("File send failed: File exists") << Files{};
    QTest::addRow("no file chosen") << FormType << multipartBody("----Bound4ry", "", "")
        << QByteArray("File send failed: Unsupported browser or no file selected.") << Files{};
    QTest::addRow("no boundary") << QByteArray("multipart/form-data") << multipartBody("----Bound4ry", "nb.txt", "x")
        << QByteArray("File send failed: Unsupported browser or no file selected.") << Files{};
    QTest::addRow("name dot dot") << FormType << multipartBody("----Bound4ry", "..", "x")
        << QByteArray("File send failed: Unsupported browser or no file selected.") << Files{};
    QTest::addRow("path ending in a slash") << FormType << multipartBody("----Bound4ry", "dir/", "x")
        << QByteArray("File send failed: Unsupported browser or no file selected.") << Files{};
    QByteArray cut = multipartBody("----Bound4ry", "cut.bin", data);
    cut.chop(cut.size() - cut.indexOf("\r\n------Bound4ry", 200));
    QTest::addRow("no closing delimiter") << FormType << cut
        << QByteArray("File send failed: Network error or unsupported browser.") << Files{};
    // Every file of a form is stored, each as if it came alone.
    using Part = std::pair<QByteArray, QByteArray>;
    const QByteArray second = randomBytes(70001);
    const QByteArray none;
    QTest::addRow("two files") << FormType << formBody({{"one.bin", data}, {"two.bin", second}, Part{none, "Send"}})
        << QByteArray("File sent success.") << Files{{QStringLiteral("one.bin"), data}, {QStringLiteral("two.bin"), second}};
    QTest::addRow("a later name taken: the others are stored")
        << FormType << formBody({{"new.txt", "n"}, {"exists.txt", "x"}, {"last.txt", second}})
        << QByteArray("File send failed: File exists")
        << Files{{QStringLiteral("new.txt"), "n"}, {QStringLiteral("last.txt"), second}};
    QTest::addRow("a later name that is not one") << FormType << formBody({{"ok.txt", "o"}, {"..", "x"}})
        << QByteArray("File send failed: Unsupported browser or no file selected.") << Files{{QStringLiteral("ok.txt"), "o"}};
    QByteArray cutLater = formBody({{"kept.txt", "k"}, {"cut.bin", data}});
    cutLater.chop(5000);
    QTest::addRow("the body cut in a later file: the whole ones are kept") << FormType << cutLater
        << QByteArray("File send failed: Network error or unsupported browser.") << Files{{QStringLiteral("kept.txt"), "k"}};
    QTest::addRow("a later part whose headers never end") << FormType
        << formBody({{"first.txt", "f"}}).replace("------Bound4ry--", "------Bound4ry\r\n" + QByteArray(9000, 'h'))
        << QByteArray("File send failed: Network error or unsupported browser.") << Files{{QStringLiteral("first.txt"), "f"}};
}

void TestUpload::upload()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, message);
    QFETCH(Files, stored);
    QVERIFY(web->start());
    QVERIFY(web->write("exists.txt", "old"));
    const QStringList before = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.multipart("/", contentType, body);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    QStringList after = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (auto file = stored.cbegin(); file != stored.cend(); ++file) {
        QCOMPARE(web->read(file.key()), file.value());
        QVERIFY(after.removeOne(file.key()));
    }
    QCOMPARE(after, before);
    QCOMPARE(web->read("exists.txt"), QByteArray("old"));
    // The message was shown once.
    QCOMPARE(messageOf(client.get("/").body), QByteArray());
}

void TestUpload::uploadIntoSubfolder()
{
    QVERIFY(web->start());
    QVERIFY(web->mkdir("Photos"));
    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.multipart("/Photos", FormType, multipartBody("----Bound4ry", "in.txt", "in"));
    QCOMPARE(messageOf(reply.body), QByteArray("File sent success."));
    QVERIFY(reply.body.contains("<td><b><a href=\"/\">../Photos</a></b></td>"));
    QCOMPARE(web->read("Photos/in.txt"), QByteArray("in"));
}

// After a page link, the upload form posts to "/?a=p&p=1": still an upload.
void TestUpload::uploadFromPagedUrl()
{
    QVERIFY(web->start());
    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.multipart("/?a=p&p=1", FormType, multipartBody("----Bound4ry", "paged.txt", "p"));
    QCOMPARE(messageOf(reply.body), QByteArray("File sent success."));
    QCOMPARE(web->read("paged.txt"), QByteArray("p"));
}

void TestUpload::failedUploadKeepsEarlierFile_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addRow("no boundary") << QByteArray("multipart/form-data") << multipartBody("B", "x.txt", "x");
    QTest::addRow("no file name") << QByteArray("multipart/form-data; boundary=B") << multipartBody("B", "", "");
    QTest::addRow("existing name") << QByteArray("multipart/form-data; boundary=B")
                                   << multipartBody("B", "report.pdf", "x");
    QTest::addRow("no part headers") << QByteArray("multipart/form-data; boundary=B") << QByteArray("garbage");
}

void TestUpload::failedUploadKeepsEarlierFile()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QVERIFY(web->start());
    QVERIFY(web->write("report.pdf", "%PDF report"));
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply = client.get("/report.pdf");
    QCOMPARE(reply.body, QByteArray("%PDF report"));
    QVERIFY(!client.isClosed());
    reply = client.multipart("/", contentType, body);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QVERIFY(messageOf(reply.body).startsWith("File send failed"));
    QCOMPARE(web->read("report.pdf"), QByteArray("%PDF report"));
}

void TestUpload::twoUploadsOnOneConnection()
{
    QVERIFY(web->start());
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply = client.multipart("/", FormType, multipartBody("----Bound4ry", "one.txt", "1"));
    QCOMPARE(messageOf(reply.body), QByteArray("File sent success."));
    reply = client.multipart("/", FormType, multipartBody("----Bound4ry", "two.txt", "2"));
    QCOMPARE(messageOf(reply.body), QByteArray("File sent success."));
    QVERIFY(!client.isClosed());
    // Exactly one answer each: nothing more arrives.
    reply = client.get("/two.txt");
    QCOMPARE(reply.body, QByteArray("2"));
    QCOMPARE(client.received, QByteArray());
    // A refused upload leaves its body unread: the answer closes the connection.
    reply = client.multipart("/", FormType, multipartBody("----Bound4ry", "one.txt", "again"));
    QCOMPARE(messageOf(reply.body), QByteArray("File send failed: File exists"));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
    QCOMPARE(web->read("one.txt"), QByteArray("1"));
}

void TestUpload::interrupted_data()
{
    QTest::addColumn<QString>("how");
    QTest::addRow("client goes away") << QStringLiteral("abort");
    QTest::addRow("client closes its side") << QStringLiteral("close");
    QTest::addRow("server stops") << QStringLiteral("stop");
    QTest::addRow("traffic limit") << QStringLiteral("limit");
}

void TestUpload::interrupted()
{
    QFETCH(QString, how);
    if (how == QLatin1String("limit"))
        web->config.dataLimitKB = 64;
    QVERIFY(web->start());
    HttpClient client(web->port(), HttpClient::Browser);
    QVERIFY(client.connectTo(web->port()));
    const QByteArray body = multipartBody("----Bound4ry", "part.bin", randomBytes(1000000));
    const QByteArray head = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + FormType
                            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    client.send(head + body.left(60000));
    // The upload is under way: part of the file is written, under no name at all.
    QTRY_VERIFY(web->server->traffic.receivedBytes >= head.size() + 60000);
    QVERIFY(QDir(web->share).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
    if (how == QLatin1String("abort"))
        client.socket.abort();
    else if (how == QLatin1String("close"))
        client.socket.disconnectFromHost();
    else if (how == QLatin1String("stop"))
        web->server->stopAll();
    else
        client.send(body.mid(60000, 100000)); // crosses the 64 KB limit
    QTRY_VERIFY(QDir(web->share).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
