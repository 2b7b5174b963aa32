#include "app/qt/MainWindow.h"

#include "app/qt/QtHostServices.h"

#include "tests/support/BoxRecordingHost.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

namespace {

using NoHost = vyktest::BoxRecordingHost;

struct MainWindowTest : ::testing::Test {
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    }
    void SetUp() override {
        form.Button1.OnClick = [this](void*) { ++clicks; };
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    NoHost host;
    TForm1 form{host, [](const std::string&, TStream&) {}};
    TMainWindow window{form, host};
    int clicks = 0;
};

} // namespace

TEST_F(MainWindowTest, FixedDialogFrameFromTheStoredDesign) {
    EXPECT_EQ(window.windowTitle(), "Aktualizace VYK");
    EXPECT_EQ(window.size(), QSize(238, 42));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.Button1()->geometry(), QRect(8, 8, 225, 25));
    EXPECT_EQ(window.Button1()->text(), "Spustit aktualizaci");
    EXPECT_TRUE(window.Button1()->hasFocus());
}

TEST_F(MainWindowTest, PlainEnterAndSpacePressTheButtonEscDoesNothing) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_EQ(focused, window.Button1());
    QTest::keyClick(focused, Qt::Key_Return);
    QTest::keyClick(focused, Qt::Key_Enter);
    QTest::keyClick(focused, Qt::Key_Space);
    EXPECT_EQ(clicks, 3);
    QTest::keyClick(focused, Qt::Key_Escape);
    QTest::keyClick(focused, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(focused, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, AnErrorFromTheClickGoesToTheErrorDisplayAndTheWindowStays) {
    form.Button1.OnClick = [](void*) { throw Exception("HTTP/1.1 404 Not Found"); };
    QTest::mouseClick(window.Button1(), Qt::LeftButton);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "HTTP/1.1 404 Not Found.");
    EXPECT_TRUE(window.isVisible());
}

TEST(QtNameFilters, TurnsDescriptionPatternPairsIntoQtFilters) {
    EXPECT_EQ(QtNameFilters("soubor *.ini|*.ini"), QStringList{"soubor *.ini (*.ini)"});
    EXPECT_EQ(QtNameFilters("a|*.a;*.b|b|*.c"), (QStringList{"a (*.a *.b)", "b (*.c)"}));
}
