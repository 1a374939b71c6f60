#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/WallpaperAction.h"
#include "tests/support/DispatchUntil.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/RunWindows.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <optional>
#include <unistd.h>

namespace {

const QString RequestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/1_0/t1");

// The portal's side of a request: Close dismisses its dialog.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed { false };
public slots:
    void Close() { closed = true; }
};

// A scripted wallpaper portal: it reads the picture from the descriptor it
// is given and answers the request with `answer`, or never.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Wallpaper")
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    std::optional<uint> answer;
    std::string received;

public slots:
    QDBusObjectPath SetWallpaperFile(const QString&, const QDBusUnixFileDescriptor& picture,
                                     const QVariantMap&) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(picture.fileDescriptor(), buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<size_t>(got));
        if (answer)
            QTimer::singleShot(0, this, [this] {
                QDBusMessage response = QDBusMessage::createSignal(
                    RequestPath, "org.freedesktop.portal.Request", "Response");
                response << *answer << QVariantMap();
                m_bus.send(response);
            });
        return QDBusObjectPath(RequestPath);
    }

private:
    QDBusConnection m_bus;
};

// A session bus of the test program's own, in its temporary folder; the
// program's side reaches it as the session bus.
class PrivateBus {
public:
    PrivateBus() {
        std::ofstream(m_dir.filePath("bus.conf").toStdString())
            << "<busconfig><type>session</type><listen>unix:dir=" << m_dir.path().toStdString()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
               "<allow own=\"*\"/></policy></busconfig>";
        m_daemon.start(
            QStringLiteral("dbus-daemon"),
            { "--config-file=" + m_dir.filePath("bus.conf"), "--print-address", "--nofork" });
        while (m_daemon.waitForReadyRead(10000) && !m_daemon.canReadLine()) {
        }
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~PrivateBus() {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    QString address;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

class Wallpaper : public ::testing::Test, public RunWindows {
protected:
    static void SetUpTestSuite() { s_bus = new PrivateBus; }
    static void TearDownTestSuite() {
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        delete s_bus;
    }
    void SetUp() override {
        ASSERT_FALSE(s_bus->address.isEmpty()) << "dbus-daemon did not start";
        Open(m_dir.path().toStdString());
        Form1->show();
        QApplication::setActiveWindow(Form1);
    }
    void TearDown() override { WallpaperAnswerBound = std::chrono::seconds(60); }

    std::string WriteJpeg(const std::string& name) {
        const std::string path = m_dir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary) << MakeJpeg(40, 30);
        return path;
    }
    static QAction* Entry(TImage* image) {
        return image->findChild<QAction*>(QStringLiteral("WallpaperAction"));
    }

    static PrivateBus* s_bus;
};

PrivateBus* Wallpaper::s_bus = nullptr;

} // namespace

TEST_F(Wallpaper, ShownPictureGoesToThePortalAndEveryOtherEndIsTold) {
    struct Row {
        const char* name;
        bool portal;
        std::optional<uint> answer; // none: the portal never answers
        bool fileGone;
        bool viewerMenu;   // else Ctrl+W in the main window
        std::string error; // what the error box's text starts with
    };
    const Row rows[] = {
        { "set", true, 0u, false, false, "" },
        { "set from the viewer", true, 0u, false, true, "" },
        { "user cancels", true, 1u, false, false,
          "Картинка не стала обоями: отменено пользователем." },
        { "portal fails", true, 2u, false, true,
          "Портал рабочего стола не смог сделать картинку обоями." },
        { "no answer", true, std::nullopt, false, false,
          "Картинка не стала обоями: нет ответа за 1 с." },
        { "no portal", false, std::nullopt, false, false,
          "Не удалось сделать картинку обоями: на сеансовой шине D-Bus нет портала рабочего "
          "стола (org.freedesktop.portal.Desktop)" },
        { "file gone", true, 0u, true, false, "Не удалось открыть картинку \"" },
    };
    QDBusConnection bus = QDBusConnection::connectToBus(s_bus->address, QStringLiteral("portal"));
    ASSERT_TRUE(bus.isConnected());
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_errors.clear();
        WallpaperAnswerBound = std::chrono::milliseconds(300);
        FakePortal portal(bus);
        portal.answer = row.answer;
        FakeRequest request;
        if (row.portal) {
            bus.registerObject("/org/freedesktop/portal/desktop", &portal,
                               QDBusConnection::ExportAllSlots);
            bus.registerObject(RequestPath, &request, QDBusConnection::ExportAllSlots);
            ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
        }
        const std::string picture = WriteJpeg(std::to_string(++number) + ".jpg");
        TImage* image = row.viewerMenu ? Form2->Image1 : Form1->Image1;
        LoadPictureFile(*image, picture);
        if (row.fileGone)
            std::remove(picture.c_str());

        QElapsedTimer clock;
        clock.start();
        if (row.viewerMenu) {
            ASSERT_EQ(image->contextMenuPolicy(), Qt::ActionsContextMenu);
            Entry(image)->trigger();
        } else {
            QTest::keyClick(Form1, Qt::Key_W, Qt::ControlModifier);
        }
        EXPECT_LT(clock.elapsed(), 5000);
        ASSERT_EQ(m_errors.size(), row.error.empty() ? 0u : 1u);
        for (const std::string& error : m_errors)
            EXPECT_EQ(error.substr(0, row.error.size()), row.error) << error;
        EXPECT_EQ(portal.received, row.portal && !row.fileGone ? MakeJpeg(40, 30) : "");
        if (row.portal && !row.answer) {
            EXPECT_TRUE(DispatchUntil([&request] { return request.closed; }))
                << "an unanswered dialog is closed";
        }
        bus.unregisterService("org.freedesktop.portal.Desktop");
        bus.unregisterObject(RequestPath);
        bus.unregisterObject("/org/freedesktop/portal/desktop");
    }
}

TEST_F(Wallpaper, EntryIsDisabledUntilAPictureIsShown) {
    for (TImage* image : { Form1->Image1, Form2->Image1 }) {
        ASSERT_NE(Entry(image), nullptr);
        EXPECT_FALSE(Entry(image)->isEnabled());
        LoadPictureFile(*image, WriteJpeg("1.jpg"));
        EXPECT_TRUE(Entry(image)->isEnabled());
    }
}

#include "WallpaperTest.moc"
