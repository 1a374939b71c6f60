#include "app/RunProgress.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QStringList>

#include <climits>

namespace {

// A bar's range is an int; a longer run is shown in millionths.
constexpr int64_t ScaledBarMaximum = 1000000;

} // namespace

QString TRunProgress::SizeText(int64_t bytes) {
    // The numbers are written as the language of the texts writes them.
    const QLocale numbers(tr("ru_RU", "locale of the numbers in sizes"));
    constexpr int64_t mebibyte = int64_t { 1024 } * 1024;
    if (bytes < mebibyte)
        return tr("%1 КБ").arg(numbers.toString(bytes / 1024));
    return tr("%1 МБ").arg(numbers.toString(static_cast<double>(bytes) / mebibyte, 'f', 1));
}

TRunProgress::TRunProgress(QProgressBar* bar, QLabel* status) : m_bar(bar), m_status(status) {
    // Until the first run there is nothing to show; an empty range would
    // make the bar run its busy animation instead.
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
}

void TRunProgress::Start(int64_t total) {
    m_total = total;
    m_done = 0;
    m_saved = 0;
    m_present = 0;
    m_withoutPicture = 0;
    m_numberHasPicture = false;
    m_inFlight = 0;
    m_activity.clear();
    m_bar->setTextVisible(true);
    ShowBar();
    ShowStatus();
}

void TRunProgress::PictureTaken(bool fetchedNow) {
    if (m_numberHasPicture)
        return;
    m_numberHasPicture = true;
    ++(fetchedNow ? m_saved : m_present);
    ShowStatus();
}

void TRunProgress::NumberDone() {
    if (!m_numberHasPicture)
        ++m_withoutPicture;
    m_numberHasPicture = false;
    ++m_done;
    ShowBar();
    ShowStatus();
}

void TRunProgress::PictureBytes(int64_t received, int64_t announced) {
    m_activity = BytesText(received, announced);
    ShowStatus();
}

void TRunProgress::PictureEnded() {
    m_activity.clear();
    ShowStatus();
}

void TRunProgress::Waiting(int32_t milliseconds) {
    m_activity = tr("повтор через %1 с").arg((milliseconds + 999) / 1000);
    ShowStatus();
}

void TRunProgress::WaitEnded() {
    PictureEnded();
}

QString TRunProgress::StatusText(int64_t saved, int64_t present, int64_t withoutPicture,
                                 const QString& activity) {
    QStringList items { tr("Сохранено: %1").arg(saved), tr("уже были: %1").arg(present),
                        tr("без картинки: %1").arg(withoutPicture) };
    if (!activity.isEmpty())
        items.append(activity);
    // The line wraps between items only, never inside one.
    for (QString& item : items)
        item.replace(QLatin1Char(' '), QChar::Nbsp);
    return items.join(QStringLiteral(" · "));
}

QString TRunProgress::BytesText(int64_t received, int64_t announced) {
    if (announced < 0)
        return SizeText(received);
    return tr("%1 из %2", "received of announced bytes")
        .arg(SizeText(received), SizeText(announced));
}

void TRunProgress::InFlight(int count) {
    if (count == m_inFlight)
        return;
    m_inFlight = count;
    ShowBar();
}

void TRunProgress::ShowBar() {
    if (m_total <= INT_MAX) {
        m_bar->setRange(0, static_cast<int>(m_total));
        m_bar->setValue(static_cast<int>(m_done));
    } else {
        m_bar->setRange(0, static_cast<int>(ScaledBarMaximum));
        m_bar->setValue(static_cast<int>(m_done * ScaledBarMaximum / m_total));
    }
    QString format = tr("%1 из %2", "numbers done of the run's").arg(m_done).arg(m_total);
    if (m_inFlight > 0)
        format += tr(", %1 в пути").arg(m_inFlight);
    m_bar->setFormat(format);
}

void TRunProgress::ShowStatus() {
    m_status->setText(StatusText(m_saved, m_present, m_withoutPicture, m_activity));
}
