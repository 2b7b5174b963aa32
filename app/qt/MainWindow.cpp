#include "app/qt/MainWindow.h"

#include "host/ScopeExit.h"
#include "host/WorkerThread.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QWindow>

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

TMainWindow::TMainWindow(TForm1& form, THostServices& host)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      form_(form), host_(host), button_(new QPushButton(this)) {
    setWindowTitle(QString::fromStdString(form.Caption));
    if (QFontDatabase::families().contains(QString::fromStdString(form.FontName))) {
        // A character height of 11 pixels at 96 pixels per inch: 8 points.
        setFont(QFont(QString::fromStdString(form.FontName), 8));
    }
    setFixedSize(form.ClientWidth, form.ClientHeight);

    const TButton& design = form.Button1;
    button_->setText(QString::fromStdString(design.Caption));
    button_->setGeometry(design.Left, design.Top, design.Width, design.Height);
    button_->setFocusPolicy(Qt::StrongFocus);
    // Enter presses the focused button as Space does; drawn as the default button.
    button_->setAutoDefault(true);
    button_->setDefault(true);
    button_->setFocus();
    button_->installEventFilter(this);
    QObject::connect(button_, &QPushButton::clicked, this, [this] { OnButton1Clicked(); });
    host_.SetBackgroundRunner(this);
}

TMainWindow::~TMainWindow() {
    host_.SetBackgroundRunner(nullptr);
}

void TMainWindow::RunInBackground(const TBackgroundTask& task) {
    busy_ = true;
    setCursor(Qt::BusyCursor);
    qApp->installEventFilter(this);
    const TScopeExit idle([this] {
        qApp->removeEventFilter(this);
        unsetCursor();
        busy_ = false;
    });
    TBackgroundWork work(true);
    QEventLoop loop;
    TWorkerThread worker(
        task, work, [&loop] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); });
    loop.exec();
    // The application quitting ends every loop: the download stops with it,
    // and nothing is shown.
    const bool quitting = !worker.Ended();
    if (quitting) work.StopRequested = true;
    // What the user gave before the work ended is dropped too.
    QCoreApplication::processEvents();
    try {
        worker.Join();
    } catch (...) {
        if (quitting) throw EAbort();
        throw;
    }
}

void TMainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    button_->setFocus();
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (busy_ && IsUserInput(event->type()) && IsOurs(watched)) return true;
    if (watched == button_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        // Only Enter without Shift, Ctrl or Alt presses the button.
        if (enter &&
            (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TMainWindow::IsOurs(QObject* object) const {
    if (object == windowHandle()) return true;
    const auto* widget = qobject_cast<const QWidget*>(object);
    return widget && widget->window() == this;
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    // The close button and Alt+F4 wait for the download.
    if (busy_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TMainWindow::OnButton1Clicked() {
    if (busy_) return; // a press while it downloads is no press
    try {
        form_.Button1.Click();
    } catch (...) {
        host_.ShowException(std::current_exception());
    }
}
