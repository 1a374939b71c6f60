#include "toolkit/widgets/TApplication.h"
#include "toolkit/runtime/Exception.h"
#include "toolkit/widgets/TForm.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

namespace {

// A form whose handlers are scripted by the test.
class ScriptedForm : public TForm {
public:
    int shows = 0;
    bool failClose = false;

protected:
    void FormShow() override { ++shows; }
    void FormClose() override {
        if (failClose)
            throw Exception("Cannot close now");
    }
};

struct Recorder {
    std::vector<std::pair<std::string, std::string>> boxes;
    TApplication::ErrorPresenter Presenter() {
        return [this](const std::string& title, const std::string& text) {
            boxes.emplace_back(title, text);
        };
    }
};

} // namespace

TEST(TApplication, ErrorBoxTextAppendsAPeriodUnlessTheMessageEndsInOneOrBelow) {
    EXPECT_EQ(ErrorBoxText("Stream write error"), "Stream write error.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Really?"), "Really?.");
    EXPECT_EQ(ErrorBoxText("JPEG error #53"), "JPEG error #53.");
    EXPECT_EQ(ErrorBoxText("quoted \"x\""), "quoted \"x\"") << "'\"' is below '.'";
    EXPECT_EQ(ErrorBoxText("dash -"), "dash -");
    EXPECT_EQ(ErrorBoxText("slash/"), "slash/.") << "'/' is above '.'";
    EXPECT_EQ(ErrorBoxText("line\n"), "line\n");
    EXPECT_EQ(ErrorBoxText("Ошибка"), "Ошибка.");
}

TEST(TApplication, LongErrorTextsAreElidedInTheBox) {
    const auto repeat = [](const std::string& piece, int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += piece;
        return text;
    };
    const std::string a200(200, 'a');
    const std::string z100(100, 'z');
    const struct {
        std::string message;
        std::string shown;
    } rows[] = {
        { "Picture address too long", "Picture address too long" },
        { std::string(400, 'a'), std::string(400, 'a') },
        { a200 + std::string(101, 'm') + z100, a200 + " … " + z100 },
        { a200 + std::string(1000000, 'm') + z100, a200 + " … " + z100 },
        // Cuts that would fall inside a two-byte character move off it.
        { "x" + repeat("я", 300) + "y", "x" + repeat("я", 99) + " … " + repeat("я", 49) + "y" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(ElidedErrorText(row.message), row.shown) << row.message.size();

    TApplication application;
    Recorder recorder;
    application.SetErrorPresenter(recorder.Presenter());
    application.ShowErrorText(a200 + std::string(5000, 'm') + z100);
    ASSERT_EQ(recorder.boxes.size(), 1U);
    EXPECT_EQ(recorder.boxes[0].second, a200 + " … " + z100 + ".");
}

TEST(TApplication, TitleIsTheProgramNameUpToItsFirstDotWithTheRestLowered) {
    EXPECT_EQ(ApplicationTitle("/usr/local/bin/wallpapers"), "wallpapers");
    EXPECT_EQ(ApplicationTitle("/opt/WallPapers.exe"), "Wallpapers");
    EXPECT_EQ(ApplicationTitle("/opt/dir.d/PROJECT1.Release.bin"), "Project1");
    EXPECT_EQ(ApplicationTitle("ОБОИ"), "Обои");
    EXPECT_EQ(ApplicationTitle("wALL"), "wall");
    EXPECT_EQ(ApplicationTitle("/x/.hidden"), "");

    TApplication application;
    application.Initialize();
    const std::string expected = ApplicationTitle(
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString());
    EXPECT_EQ(application.Title(), expected);
    EXPECT_EQ(application.Title(), "Tapplicationtest");
}

TEST(TApplication, AnErrorLeavingAHandlerGoesToTheErrorBoxOnce) {
    TApplication application;
    application.SetTitle("Wallpapers");
    Recorder recorder;
    application.SetErrorPresenter(recorder.Presenter());

    int after = 0;
    EXPECT_FALSE(RunHandler([&] {
        throw EWriteError();
        ++after;
    }));
    EXPECT_TRUE(RunHandler([&] { ++after; }));
    EXPECT_FALSE(RunHandler([] { throw 42; }));
    EXPECT_EQ(after, 1) << "the failing handler is abandoned, the next one runs";
    using Box = std::pair<std::string, std::string>;
    EXPECT_EQ(recorder.boxes, (std::vector<Box> { { "Wallpapers", "Stream write error." },
                                                  { "Wallpapers", "Unknown error." } }));

    // A presenter that fails does not take the program down.
    application.SetErrorPresenter(
        [](const std::string&, const std::string&) { throw std::runtime_error("no display"); });
    EXPECT_FALSE(RunHandler([] { throw Exception("x"); }));
}

TEST(TApplication, MainFormCloseEndsTheProgramOtherFormsHide) {
    TApplication application;
    Recorder recorder;
    application.SetErrorPresenter(recorder.Presenter());
    auto* main = application.CreateForm<ScriptedForm>();
    auto* other = application.CreateForm<ScriptedForm>();
    EXPECT_EQ(application.MainForm(), main);

    main->show();
    other->show();
    EXPECT_EQ(main->shows, 1);
    main->hide();
    main->show();
    EXPECT_EQ(main->shows, 2) << "each show by the program runs FormShow";

    // A failing close handler abandons the close: the window stays.
    main->failClose = true;
    EXPECT_FALSE(main->close());
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(application.Terminated());
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].second, "Cannot close now.");

    // The main form's close asks the program to end; the window stays on
    // screen until the event loop ends.
    main->failClose = false;
    main->close();
    EXPECT_TRUE(application.Terminated());
    EXPECT_TRUE(main->isVisible());

    EXPECT_TRUE(other->close());
    EXPECT_FALSE(other->isVisible());
}

TEST(TApplication, FormsOwnedByTheApplicationDieWithItNewestFirst) {
    std::vector<int> order;
    struct Tracked : TForm {
        std::vector<int>* order = nullptr;
        int id = 0;
        ~Tracked() override { order->push_back(id); }
    };
    {
        TApplication application;
        for (int id = 1; id <= 3; ++id) {
            auto* form = application.CreateForm<Tracked>();
            form->order = &order;
            form->id = id;
        }
        EXPECT_EQ(Application, &application);
    }
    EXPECT_EQ(order, (std::vector<int> { 3, 2, 1 }));
    EXPECT_EQ(Application, nullptr);
}

TEST(TApplication, RunDispatchesUntilTheMainFormCloses) {
    TApplication application;
    auto* main = application.CreateForm<ScriptedForm>();
    bool watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        watchdogFired = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(30000);
    // The close arrives as an event once the loop runs, as a user's would.
    QMetaObject::invokeMethod(
        main, [main] { main->close(); }, Qt::QueuedConnection);
    application.Run();
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(main->shows, 1);
    EXPECT_TRUE(application.Terminated());

    // ProcessMessages dispatches what is pending and returns.
    int ran = 0;
    QMetaObject::invokeMethod(
        main, [&ran] { ++ran; }, Qt::QueuedConnection);
    application.ProcessMessages();
    EXPECT_EQ(ran, 1);
}

TEST(TApplication, DefaultErrorBoxHasTheErrorIconAnOkButtonAndTheTitle) {
    TApplication application;
    application.SetTitle("Wallpapers");
    QString seenTitle;
    QString seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons seenButtons;
    // Inspects the modal box once it is up, then presses its button.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        seenButtons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    RunHandler([] { throw Exception("Cannot open file \"/tmp/лог\". No such file or directory"); });
    EXPECT_EQ(seenTitle, "Wallpapers");
    EXPECT_EQ(seenText, "Cannot open file \"/tmp/лог\". No such file or directory.");
    EXPECT_EQ(seenIcon, QMessageBox::Critical);
    EXPECT_EQ(seenButtons, QMessageBox::Ok);
}
