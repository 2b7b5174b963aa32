#pragma once
// The main window drawn with Qt Widgets from the form's stored design: a fixed
// dialog frame with only a close button, and the one button, which holds the
// focus and is pressed by Enter or Space. Esc does nothing.
// It runs the download in the background: meanwhile its event loop runs (it
// paints, moves and answers the desktop's ping), the user's input and close
// requests are dropped, and the cursor over it is the busy one.

#include "app/uFrmVYKPatch.h"
#include "host/BackgroundWork.h"
#include "host/HostServices.h"

#include <QPushButton>
#include <QWidget>

class TMainWindow : public QWidget, public TBackgroundRunner {
public:
    // form and host must outlive the window.
    TMainWindow(TForm1& form, THostServices& host);
    ~TMainWindow() override;

    void RunInBackground(const TBackgroundTask& task) override;

    QPushButton* Button1() const { return button_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Whatever the click raises goes to the error display; the window stays.
    void OnButton1Clicked();
    bool IsOurs(QObject* object) const;

    TForm1& form_;
    THostServices& host_;
    QPushButton* button_;
    bool busy_ = false; // a download runs
};
