#include "app/WallpaperAction.h"

#include "toolkit/runtime/ScopeExit.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"

#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>

std::chrono::milliseconds WallpaperAnswerBound { std::chrono::seconds(60) };

namespace {

// One request at a time: its wait dispatches events, among them another
// press of Ctrl+W.
bool g_requestOpen = false;

std::string WallpaperMessage(const TWallpaperResult& result, const std::string& fileName) {
    QString text;
    switch (result.Outcome) {
    case TWallpaperOutcome::Done:
    case TWallpaperOutcome::Abandoned:
        break;
    case TWallpaperOutcome::Cancelled:
        text = QCoreApplication::translate("Wallpaper",
                                           "Картинка не стала обоями: отменено пользователем");
        break;
    case TWallpaperOutcome::Failed:
        text = QCoreApplication::translate("Wallpaper",
                                           "Портал рабочего стола не смог сделать картинку обоями");
        if (!result.Detail.empty())
            text += QStringLiteral(": ") + QString::fromStdString(result.Detail);
        break;
    case TWallpaperOutcome::NoPortal:
        text = QCoreApplication::translate(
            "Wallpaper", "Не удалось сделать картинку обоями: на сеансовой шине D-Bus нет "
                         "портала рабочего стола (org.freedesktop.portal.Desktop)");
        break;
    case TWallpaperOutcome::NoReply:
        text = QCoreApplication::translate(
            "Wallpaper", "Портал рабочего стола не отвечает; картинка не стала обоями");
        break;
    case TWallpaperOutcome::NoAnswer:
        text =
            QCoreApplication::translate("Wallpaper", "Картинка не стала обоями: нет ответа за %1 с")
                .arg(std::chrono::ceil<std::chrono::seconds>(WallpaperAnswerBound).count());
        break;
    case TWallpaperOutcome::Unreadable:
        text = QCoreApplication::translate("Wallpaper", "Не удалось открыть картинку \"%1\": %2")
                   .arg(QString::fromLocal8Bit(fileName.c_str()),
                        QString::fromLocal8Bit(SysErrorMessage(result.SystemError).c_str()));
        break;
    }
    return text.toStdString();
}

// The portal's name for the asking window, so that its dialog comes up over
// it; only X11 windows can be named without asking the compositor first.
std::string ParentWindow(const TImage& image) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    const auto id = static_cast<qulonglong>(image.window()->winId());
    return "x11:" + QString::number(id, 16).toStdString();
}

} // namespace

EWallpaperError::EWallpaperError(const TWallpaperResult& result, const std::string& fileName)
    : Exception(WallpaperMessage(result, fileName)), Outcome(result.Outcome) {}

void SetAsWallpaper(const TImage& image) {
    if (g_requestOpen || image.FileName().empty())
        return;
    g_requestOpen = true;
    const ScopeExit closed([] { g_requestOpen = false; });
    TWallpaperRequest request;
    request.FileName = image.FileName();
    request.ParentWindow = ParentWindow(image);
    request.AnswerBound = WallpaperAnswerBound;
    request.Abandon = [] { return Application && Application->Terminated(); };
    const TWallpaperResult result = SetWallpaperFile(request);
    if (result.Outcome != TWallpaperOutcome::Done && result.Outcome != TWallpaperOutcome::Abandoned)
        throw EWallpaperError(result, request.FileName);
}

void AddWallpaperAction(TImage* image) {
    auto* action = new QAction(QCoreApplication::translate("Wallpaper", "Сделать обоями"), image);
    action->setObjectName(QStringLiteral("WallpaperAction"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    action->setShortcutContext(Qt::WindowShortcut);
    action->setEnabled(!image->FileName().empty());
    image->addAction(action);
    image->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(action, &QAction::triggered, image,
                     [image] { RunHandler([image] { SetAsWallpaper(*image); }); });
    image->OnChange = [image, action] { action->setEnabled(!image->FileName().empty()); };
}
