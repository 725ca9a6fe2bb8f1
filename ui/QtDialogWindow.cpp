#include "QtDialogWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "CWaveGeneratorDialog.h"
#include "DialogAccessible.h"
#include "MessageSheet.h"
#include "ResourceIds.h"
#include "ScrollBarAccessible.h"
#include "StatusLine.h"
#include "StatusLineAccessible.h"
#include "WaylandTitleBar.h"
#include "WindowScrollBar.h"

namespace {

constexpr int kDialogWidth = 218;  // dialog units
constexpr int kDialogHeight = 192;

// Windows-style rounding of value * numerator / denominator.
int MulDiv(int value, int numerator, int denominator)
{
    return (value * numerator + denominator / 2) / denominator;
}

QLabel* StaticText(const char* text)
{
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

QtDialogWindow::QtDialogWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    Q_INIT_RESOURCE(wavegen);  // the icons live in a static library
    static const bool readerOrder = [] {
        QAccessible::installFactory(&DialogAccessible::Create);
        QAccessible::installFactory(&ScrollBarAccessible::Create);
        QAccessible::installFactory(&StatusLineAccessible::Create);
        return true;
    }();
    (void)readerOrder;
    setWindowTitle(QStringLiteral("Tavel physics lab: Wave generator"));
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/wavegen/wavegen-32.xpm")));
    icon.addPixmap(QPixmap(QStringLiteral(":/wavegen/wavegen-16.xpm")));
    // The desktop's icon for the entry, where its theme has one.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("wavegen"), icon));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSize(9);
    setFont(font);
    if (WaylandTitleBar::Wanted()) {
        m_readingOrder << WaylandTitleBar::Attach(this);
        m_top = WaylandTitleBar::kHeight;
    }
    BuildTemplate();
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] {
        if (m_onHelp) {
            m_onHelp();
        }
    });
}

// The base units of the template's font: a horizontal dialog unit is a
// quarter of its average character width, a vertical one an eighth of its
// height.
void QtDialogWindow::BuildTemplate()
{
    const QFontMetrics metrics(font());
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseUnitX = (alphabetWidth / 26 + 1) / 2;
    m_baseUnitY = metrics.height();
    setFixedSize(FromDialogUnits(0, 0, kDialogWidth, kDialogHeight).size() + QSize(0, m_top));

    m_start = AddControl(new QPushButton(QStringLiteral("Start")), 7, 84, 50, 14);
    m_list = AddControl(new QListWidget, 7, 28, 205, 52);
    QLabel* heading = AddControl(StaticText("Select a wave to play"), 66, 15, 86, 11);
    m_stop = AddControl(new QPushButton(QStringLiteral("Stop")), 84, 84, 52, 15);
    m_exit = AddControl(new QPushButton(QStringLiteral("Exit")), 164, 84, 48, 14);
    m_status = AddControl(new StatusLine, 7, 109, 205, 36);
    AddControl(new QGroupBox, 7, 7, 205, 76);
    m_frequency = AddControl(new QLineEdit, 84, 167, 45, 12);
    QLabel* frequencyLabel = AddControl(StaticText("Frequency in Hz"), 15, 169, 53, 10);
    AddControl(new QGroupBox, 7, 7, 205, 20);
    // A screen reader names the list and the box by their labels.
    heading->setBuddy(m_list);
    frequencyLabel->setBuddy(m_frequency);
    m_list->setAccessibleName(heading->text());
    m_frequency->setAccessibleName(frequencyLabel->text());
    // The status line's name is its text, as a screen reader reads a status
    // bar, and each new text is announced as a change of the name (once
    // per command: StatusLine).
    m_status->setAccessibleDescription(QStringLiteral("Status"));

    m_start->setDefault(true);
    m_list->setSortingEnabled(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_status->setWordWrap(true);
    m_frequency->setAlignment(Qt::AlignLeft);
    setTabOrder(m_start, m_list);
    setTabOrder(m_list, m_stop);
    setTabOrder(m_stop, m_exit);
    setTabOrder(m_exit, m_frequency);

    m_scrollBar = new WindowScrollBar(this);
    m_scrollBar->setAccessibleName(QStringLiteral("Frequency slider"));
    m_readingOrder << m_scrollBar;
    const int barHeight = m_scrollBar->sizeHint().height();
    m_scrollBar->setGeometry(0, height() - barHeight, width(), barHeight);

    connect(m_start, &QPushButton::clicked, this, [this] { Command(IDOK); });
    connect(m_stop, &QPushButton::clicked, this, [this] { Command(IDC_STOP); });
    connect(m_exit, &QPushButton::clicked, this, [this] { Command(IDCANCEL); });
    connect(m_scrollBar, &QScrollBar::actionTriggered, this, &QtDialogWindow::OnScrollAction);
    connect(m_scrollBar, &QScrollBar::sliderReleased, this, &QtDialogWindow::OnScrollReleased);
    m_scrollBar->m_onScrollHere = [this](int position) { OnThumbPosition(position); };
}

QRect QtDialogWindow::FromDialogUnits(int left, int top, int width, int height) const
{
    return {MulDiv(left, m_baseUnitX, 4), m_top + MulDiv(top, m_baseUnitY, 8),
            MulDiv(width, m_baseUnitX, 4), MulDiv(height, m_baseUnitY, 8)};
}

// Controls are created in template order; each goes below the ones before
// it, so that the first control of the template is the topmost.
template <typename Control>
Control* QtDialogWindow::AddControl(Control* control, int left, int top, int width, int height)
{
    control->setParent(this);
    control->setGeometry(FromDialogUnits(left, top, width, height));
    control->lower();
    m_readingOrder << control;
    return control;
}

void QtDialogWindow::Command(int id)
{
    if (m_waitLoop != nullptr) {
        // Stop and Exit give the open up; Start has not had its answer yet.
        if (id != IDOK) {
            GiveUpWaiting([this, id] { Command(id); });
        }
        return;
    }
    if (BoxShowing()) {
        // Stop and Exit end the command at its box; Start waits for it.
        if (id != IDOK) {
            CloseBoxThen([this, id] { Command(id); });
        }
        return;
    }
    if (m_dialog != nullptr) {
        m_dialog->OnCommand(id);
    }
}

void QtDialogWindow::reject()
{
    Command(IDCANCEL);
}

void QtDialogWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();  // the Exit command ends the dialog itself
    Command(IDCANCEL);
}

// Qt has already moved the thumb for the action; put it back where the
// handlers last set it, and let the handlers decide.
void QtDialogWindow::OnScrollAction(int action)
{
    const int requested = m_scrollBar->sliderPosition();
    m_scrollBar->setSliderPosition(m_thumb);
    if (m_dialog == nullptr || m_waitLoop != nullptr || BoxShowing()) {
        return;
    }
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        m_dialog->OnHScroll(SB_LINELEFT, 0);
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        m_dialog->OnHScroll(SB_LINERIGHT, 0);
        break;
    case QAbstractSlider::SliderPageStepSub:
        m_dialog->OnHScroll(SB_PAGELEFT, 0);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        m_dialog->OnHScroll(SB_PAGERIGHT, 0);
        break;
    case QAbstractSlider::SliderToMinimum:
        m_dialog->OnHScroll(SB_LEFT, 0);
        break;
    case QAbstractSlider::SliderToMaximum:
        m_dialog->OnHScroll(SB_RIGHT, 0);
        break;
    case QAbstractSlider::SliderMove:
        m_dialog->OnHScroll(SB_THUMBTRACK, static_cast<unsigned>(requested));
        return;
    default:
        return;
    }
    m_dialog->OnHScroll(SB_ENDSCROLL, 0);
}

void QtDialogWindow::OnScrollReleased()
{
    OnThumbPosition(m_scrollBar->sliderPosition());
}

// A thumb released at `position`, by the mouse or the menu's "Scroll here".
void QtDialogWindow::OnThumbPosition(int position)
{
    if (m_waitLoop != nullptr || BoxShowing()) {
        m_scrollBar->setSliderPosition(m_thumb);
        return;
    }
    if (m_dialog != nullptr) {
        m_dialog->OnHScroll(SB_THUMBPOSITION, static_cast<unsigned>(position));
        m_dialog->OnHScroll(SB_ENDSCROLL, 0);
    }
}

void QtDialogWindow::SetDlgItemText(int id, const char* text)
{
    const QString value = QString::fromUtf8(text);
    if (id == IDC_FREQUENCY) {
        m_frequency->setText(value);
    } else if (id == IDC_STATUS) {
        m_status->Show(value);
    }
}

// The box's text as UTF-8 bytes, cut to fit the caller's buffer.
int QtDialogWindow::GetDlgItemText(int id, char* buffer, int maxCount)
{
    if (maxCount <= 0) {
        return 0;
    }
    // The handlers read only the frequency box.
    const QByteArray bytes = id == IDC_FREQUENCY ? m_frequency->text().toUtf8() : QByteArray();
    const int length = std::min(static_cast<int>(bytes.size()), maxCount - 1);
    std::copy_n(bytes.constData(), length, buffer);
    buffer[length] = '\0';
    return length;
}

void QtDialogWindow::SetDlgItemInt(int id, int value, bool isSigned)
{
    const QString text =
        isSigned ? QString::number(value) : QString::number(static_cast<unsigned>(value));
    SetDlgItemText(id, text.toUtf8().constData());
}

void QtDialogWindow::AddListString(int, const char* text)
{
    m_list->addItem(QString::fromUtf8(text));
}

void QtDialogWindow::SetListSelection(int, int position)
{
    m_list->setCurrentRow(position);
}

int QtDialogWindow::GetListSelection(int)
{
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? LB_ERR : m_list->row(selected.first());
}

void QtDialogWindow::SetScrollRange(int minimum, int maximum)
{
    m_scrollBar->setRange(minimum, maximum);
}

void QtDialogWindow::SetScrollPos(int position)
{
    // setValue moves the thumb without triggering a slider action (inside an
    // action it also becomes the position Qt settles on).
    m_thumb = std::clamp(position, m_scrollBar->minimum(), m_scrollBar->maximum());
    m_scrollBar->setValue(m_thumb);
}

bool QtDialogWindow::WaitFor(int fd, int timeoutMs)
{
    QEventLoop loop;
    QSocketNotifier ready(fd, QSocketNotifier::Read);
    connect(&ready, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    // (A held arrow or trough keeps its repeat: a step that falls in the
    // wait is dropped, the next one restarts, and the release ends it.)
    m_waitLoop = &loop;
    m_waitGivenUp = false;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    qApp->installEventFilter(this);
    loop.exec();
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
    m_waitLoop = nullptr;
    return !m_waitGivenUp;
}

void QtDialogWindow::GiveUpWaiting(std::function<void()> then)
{
    if (m_waitLoop == nullptr || m_waitGivenUp) {
        return;
    }
    m_waitGivenUp = true;
    m_waitLoop->quit();
    QTimer::singleShot(0, this, std::move(then));
}

// While an open waits: what may reach its widget. Stop, Exit and the
// title bar's boxes take the mouse and keys; Esc reaches the dialog from
// any control; the slider takes the release that ends a held arrow or
// trough. Events for a window (not a widget) are passed on: the toolkit
// hands them to the widget under the pointer, which comes here.
bool QtDialogWindow::TakesInputWhileWaiting(QObject* receiver, QEvent* event) const
{
    if (!receiver->isWidgetType()) {
        return true;
    }
    auto* widget = static_cast<QWidget*>(receiver);
    if (widget == m_stop || widget == m_exit ||
        (qobject_cast<QAbstractButton*>(widget) != nullptr && widget->parentWidget() != this &&
         widget->window() == this)) {
        return true;
    }
    if (widget == m_scrollBar && event->type() == QEvent::MouseButtonRelease) {
        return true;
    }
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride ||
        event->type() == QEvent::KeyRelease) {
        return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    }
    return false;
}

bool QtDialogWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (m_waitLoop == nullptr) {
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
        return !TakesInputWhileWaiting(watched, event);
    default:
        return false;
    }
}

void QtDialogWindow::ExitWhenIdle()
{
    if (m_waitLoop != nullptr) {
        GiveUpWaiting([this] { ExitWhenIdle(); });
        return;
    }
    if (BoxShowing()) {
        CloseBoxThen([this] { ExitWhenIdle(); });
        return;
    }
    Command(IDCANCEL);
}

// A message box of the command under way is open (a screen reader's
// actions and timers still reach the window behind a modal box).
bool QtDialogWindow::BoxShowing() const
{
    const QWidget* modal = QApplication::activeModalWidget();
    return m_openSheet != nullptr || (modal != nullptr && modal != this);
}

// Ends the command under way at its box, as if OK were pressed, and runs
// `then` once its handler has returned.
void QtDialogWindow::CloseBoxThen(std::function<void()> then)
{
    if (m_dialog != nullptr) {
        m_dialog->AbandonCommand();
    }
    if (m_openSheet != nullptr) {
        m_openSheet->CloseBox();
    } else if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr) {
        modal->close();
    }
    QTimer::singleShot(0, this, std::move(then));
}

void QtDialogWindow::LogFailure(const char* line)
{
    std::fprintf(stderr, "wavegen: %s\n", line);
}

void QtDialogWindow::MessageBox(const char* text)
{
    m_scrollBar->CancelRepeat();
    if (WaylandTitleBar::Wanted()) {
        MessageSheet sheet(this);
        m_openSheet = &sheet;
        sheet.Run(QCoreApplication::applicationName(), QString::fromUtf8(text));
        m_openSheet = nullptr;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QString::fromUtf8(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    // Wide enough for the caption beside a window manager's frame buttons,
    // which the box's own size would otherwise cut to "w... n".
    constexpr int kFrameButtonsWidth = 120;
    const int captionWidth =
        QFontMetrics(QApplication::font()).horizontalAdvance(box.windowTitle()) +
        kFrameButtonsWidth;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

int QtDialogWindow::RunModal()
{
    if (m_dialog != nullptr) {
        m_dialog->OnInitDialog();
    }
    m_start->setFocus();
    m_centreOnFrame = true;
    CentreOnScreen();
    return exec();
}

// Centres the whole frame, title bar included, on the available area of the
// screen the window opens on. Before the window manager has framed the
// window its frame is not known yet: the first activation centres again.
void QtDialogWindow::CentreOnScreen()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QSize frame = frameGeometry().size();
    move(area.x() + (area.width() - frame.width()) / 2,
         area.y() + (area.height() - frame.height()) / 2);
}

void QtDialogWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_centreOnFrame) {
        m_centreOnFrame = false;
        CentreOnScreen();
    }
    QDialog::changeEvent(event);
}

void QtDialogWindow::EndDialog(int result)
{
    done(result);
}
