#include "app/qt/MainWindow.h"

#include <QFontDatabase>
#include <QKeyEvent>

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
}

void TMainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    button_->setFocus();
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
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

void TMainWindow::OnButton1Clicked() {
    try {
        form_.Button1.Click();
    } catch (...) {
        host_.ShowException(std::current_exception());
    }
}
