// The five number boxes of the settings dialogs under a real X server, with
// keys sent through the server itself: there Delete arrives with the text
// 0x7F, which the offscreen platform never sends. CTest runs this binary
// under xvfb-run with the xcb platform; where no X server starts it falls
// back to offscreen and the test skips, saying so.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>

#include "core/Settings.h"
#include "settings/ui/frmAdvancedEmail.h"
#include "settings/ui/frmConfiguration.h"
#include "support/FernlogFixtures.h"

namespace {
constexpr xcb_keysym_t kDeleteKeysym = 0xffff;  // XK_Delete

// The key code that carries `keysym` in the server's keyboard map; 0 if none.
xcb_keycode_t KeyCode(xcb_connection_t* connection, xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
    if (!reply) return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    xcb_keycode_t code = 0;
    for (int k = 0; k < count && code == 0; ++k) {
        for (int j = 0; j < perCode; ++j) {
            if (keysyms[k * perCode + j] == keysym) {
                code = static_cast<xcb_keycode_t>(setup->min_keycode + k);
                break;
            }
        }
    }
    std::free(reply);
    return code;
}

// A key pressed and released on the server's keyboard, as a person would.
void PressKey(xcb_connection_t* connection, xcb_keycode_t code) {
    xcb_test_fake_input(connection, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(connection);
}
}  // namespace

class NumberBoxesXcbTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "needs an X server and the xcb platform (CTest runs it under "
                            "xvfb-run); this run has the "
                         << QGuiApplication::platformName().toStdString() << " platform";
        }
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) GTEST_SKIP() << "no connection to the X server";
        deleteKey = KeyCode(connection, kDeleteKeysym);
        if (deleteKey == 0) GTEST_SKIP() << "the X server's keyboard map has no Delete key";
        Settings::InitCrypt();
        WriteValidSettings(60);
    }
    void TearDown() override {
        if (connection) xcb_disconnect(connection);
        FernlogTest::TearDown();
    }

    // The box clicked at its left end, then Delete on the server's keyboard.
    void DeleteFirstDigit(QWidget* window, QLineEdit* box) {
        box->setText(QStringLiteral("60"));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(2, box->height() / 2));
        box->setFocus();
        box->setCursorPosition(0);
        ASSERT_TRUE(QTest::qWaitFor([window] { return window->isActiveWindow(); }, 5000));
        PressKey(connection, deleteKey);
        (void)QTest::qWaitFor([box] { return box->text() != QLatin1String("60"); }, 3000);
        EXPECT_EQ(box->text(), "0") << box->objectName().toStdString();
    }

    xcb_connection_t* connection = nullptr;
    xcb_keycode_t deleteKey = 0;
};

TEST_F(NumberBoxesXcbTest, DeleteEditsEveryNumberBox) {
    frmConfiguration dialog;
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (QLineEdit* box :
         {dialog.txtUpdateRate, dialog.txtTCPTimeOut, dialog.txtCommunicationRetry})
        DeleteFirstDigit(&dialog, box);
    EXPECT_TRUE(dialog.Changed());

    frmAdvancedEmail advanced(&dialog);
    advanced.show();
    advanced.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&advanced));
    for (QLineEdit* box : {advanced.txtSMTPPort, advanced.txtServerTimeOut})
        DeleteFirstDigit(&advanced, box);
}
