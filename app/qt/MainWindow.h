#pragma once
// The main window drawn with Qt Widgets from the form's stored design: a fixed
// dialog frame with only a close button, and the one button, which holds the
// focus and is pressed by Enter or Space. Esc does nothing.

#include "app/uFrmVYKPatch.h"
#include "host/HostServices.h"

#include <QPushButton>
#include <QWidget>

class TMainWindow : public QWidget {
public:
    // form and host must outlive the window.
    TMainWindow(TForm1& form, THostServices& host);

    QPushButton* Button1() const { return button_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whatever the click raises goes to the error display; the window stays.
    void OnButton1Clicked();

    TForm1& form_;
    THostServices& host_;
    QPushButton* button_;
};
