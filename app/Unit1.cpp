#include "app/Unit1.h"

#include "app/Unit2.h"
#include "app/WallpaperAction.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TMemo.h"
#include "toolkit/widgets/TPanel.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

TForm1* Form1 = nullptr;
uint8_t StopFlag = 0;
int32_t CurrentNumber = 0;

namespace {

// Connects a button's click to a handler of the form, through the central
// exception handler.
void OnClick(QPushButton* button, TForm1* form, void (TForm1::*handler)()) {
    QObject::connect(button, &QPushButton::clicked, form,
                     [form, handler] { RunHandler([form, handler] { (form->*handler)(); }); });
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top) {
    auto* label = new QLabel(caption, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

TSpinEdit* MakeSpinEdit(QWidget* parent, QRect bounds, int32_t minValue, int32_t maxValue,
                        int32_t value) {
    auto* box = new TSpinEdit(parent);
    box->setGeometry(bounds);
    box->SetMinValue(minValue);
    box->SetMaxValue(maxValue);
    box->SetValue(value);
    return box;
}

} // namespace

TForm1::TForm1() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/wallpapers.svg")));
    SetBounds(204, 129, 772, 624);

    Panel1 = new TPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->SetCaption(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(168);

    Button2 = new QPushButton(tr("Скачать всё ;)"), Panel1);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(16, 8, 113, 25);

    Button3 = new QPushButton(tr("Приостановить"), Panel1);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(144, 8, 89, 25);

    Memo1 = new TMemo(Panel1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 40, 457, 97);

    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 140, 457, 21);
    Edit1->setReadOnly(true);

    Label1 = MakeLabel(Panel1, tr("От:"), 608, 40);
    Label1->setObjectName(QStringLiteral("Label1"));
    SpinEdit1 = MakeSpinEdit(Panel1, QRect(632, 40, 121, 22), 200, 23000, 200);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));

    Label2 = MakeLabel(Panel1, tr("До:"), 608, 72);
    Label2->setObjectName(QStringLiteral("Label2"));
    SpinEdit2 = MakeSpinEdit(Panel1, QRect(632, 64, 121, 22), 0, 0, 23000);
    SpinEdit2->setObjectName(QStringLiteral("SpinEdit2"));

    // Below the number boxes and clear of the panel's caption, which shows
    // between the log pane and "От:" when the window is wide; as wide as the
    // space from the log pane to the number boxes' right edge. The status
    // line takes a second row when its figures grow long.
    ProgressBar1 = new QProgressBar(Panel1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(473, 96, 280, 19);
    Label3 = new QLabel(Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(473, 120, 280, 40);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3->setWordWrap(true);
    m_progress.emplace(ProgressBar1, Label3);
    ImageFetcher1.OnProgress = [this](int64_t received, int64_t announced) {
        m_progress->PictureBytes(received, announced);
    };

    // The picture pane sits at the scroll box's origin and takes each
    // picture's natural size; the scroll box shows scroll bars only for what
    // lies outside its visible area.
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new TImage;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->resize(760, 425);
    Image1->SetAutoSize(true);
    ScrollBox1->setWidget(Image1);
    Image1->OnDblClick = [this] { RunHandler([this] { Image1DblClick(); }); };
    AddWallpaperAction(Image1);

    // The panel keeps the window's width; the scroll box takes the rest.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(ScrollBox1, 1);

    OnClick(Button2, this, &TForm1::Button2Click);
    OnClick(Button3, this, &TForm1::Button3Click);
    SetUpKvHTTP1();
}

TForm1::~TForm1() {
    RunHandler([this] { FormDestroy(); });
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::FormShow() {
    StopFlag = 0;
    m_log.Load(*Memo1);
}

void TForm1::Button3Click() {
    StopFlag = 1 - StopFlag;
    Button3->setText(StopFlag == 1 ? tr("разрешить") : tr("Запретить"));
    if (m_ahead)
        m_ahead->SetStopping(StopFlag == 1);
    if (StopFlag == 1) {
        AbortPageFetch();
        ImageFetcher1.Abort();
        if (m_ahead)
            m_ahead->CancelAll();
    }
}

void TForm1::Image1DblClick() {
    // Should creating the viewer fail, no viewer is current, and pictures go
    // to the main window only.
    Form2 = nullptr;
    Form2 = Application->CreateForm<TForm2>();
    // It shows the main window's picture, the same one, decoded once.
    Form2->Image1->SetGraphic(Image1->SharedGraphic(), Image1->FileName());
    Form2->show();
}

void TForm1::FormClose() {
    // The log is this thread's again once what the writer holds is on disk;
    // numbers the run still logs are written at once.
    m_logWriter.reset();
    try {
        m_log.Save(*Memo1);
    } catch (...) {
        // A log that no save can ever write must not hold the window open:
        // its error is told once and the close goes on.
        if (!m_log.Unusable())
            throw;
        Application->HandleException(std::current_exception());
    }
    m_closed = true;
    AbortPageFetch();
    ImageFetcher1.Abort();
    if (m_ahead)
        m_ahead->CancelAll();
}

void TForm1::FormDestroy() {
    m_log.Save(*Memo1);
}
