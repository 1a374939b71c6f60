#pragma once

#include <QFrame>
#include <QString>

// A panel: a lowered bevel with a one-pixel space inside it, and its caption
// drawn centred on the panel, behind any controls that lie there.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

    const QString& Caption() const { return m_caption; }
    void SetCaption(const QString& caption);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
};
