#include "services/hotkey/HotkeyRegistrar.h"
#include "services/hotkey/x11/X11HotkeyBackend.h"
#include "services/hotkey/x11/X11KeyTranslation.h"
#include "settings/KeyCombo.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <X11/keysym.h>
#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace varlo;

constexpr auto waitLimit = 3000; // ms
constexpr quint32 ctrl = CarbonModifier::Control, opt = CarbonModifier::Option;
constexpr quint32 cmd = CarbonModifier::Command, shift = CarbonModifier::Shift;

static bool sendKeys(const QString& keys)
{
    QProcess xdotool; // killed by its destructor if it hangs
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    return xdotool.waitForFinished(waitLimit) && xdotool.exitStatus() == QProcess::NormalExit &&
           xdotool.exitCode() == 0;
}

#define REQUIRE_X_SERVER()                                                                                   \
    if (!X11HotkeyBackend::create() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())  \
    QSKIP("needs xvfb-run with QT_QPA_PLATFORM=xcb, and xdotool")

class X11HotkeyBackendTest : public QObject
{
    Q_OBJECT

private slots:
    void translation()
    {
        for (const quint32 code : KeyCombo::namedKeyCodes()) {
            const std::optional<quint32> keysym = x11::keysymForKeyCode(code);
            QVERIFY2(keysym && x11::keyCodeForKeysym(*keysym) == code, qPrintable(KeyCombo::keyName(code)));
        }
        QCOMPARE(x11::keysymForKeyCode(40), std::optional<quint32>(XK_k));
        QCOMPARE(x11::keyCodeForKeysym(XK_K), std::optional<quint32>(40));
        QVERIFY(!x11::keysymForKeyCode(53) && !x11::keyCodeForKeysym(XK_Escape));
        QCOMPARE(x11::xModifiersForCarbon(opt | cmd, x11::ModifierMasks{0x20, 0x80}),
                 quint16{0xA0}); // moved Alt, Super
        QCOMPARE(x11::xModifiersForCarbon(0xFFFF00FFu, x11::ModifierMasks{}), quint16{0});
    }

    void pressRunsHandlerUntilUnregistered_data()
    {
        QTest::addColumn<KeyCombo>("combo");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("nearMiss");
        QTest::addColumn<QString>("lockKey");
        QTest::newRow("control option K") << KeyCombo{40, ctrl | opt} << "ctrl+alt+k"
                                          << "ctrl+k"
                                          << "Num_Lock";
        QTest::newRow("command shift F5") << KeyCombo{96, cmd | shift} << "super+shift+F5"
                                          << "super+F5"
                                          << "Caps_Lock";
    }
    void pressRunsHandlerUntilUnregistered()
    {
        REQUIRE_X_SERVER();
        QFETCH(KeyCombo, combo);
        QFETCH(QString, keys);
        QFETCH(QString, nearMiss);
        QFETCH(QString, lockKey);
        std::unique_ptr<X11HotkeyBackend> backend = X11HotkeyBackend::create();
        X11HotkeyBackend* const raw = backend.get();
        HotkeyRegistrar registrar(std::move(backend));
        int presses = 0;
        QVERIFY(registrar.registerHotkey(combo, [&presses] { ++presses; }));
        QVERIFY(sendKeys(keys));
        QTRY_COMPARE_WITH_TIMEOUT(presses, 1, waitLimit);
        // The press after a near miss arrives in order, so the miss was seen and ignored.
        QVERIFY(sendKeys(nearMiss));
        QVERIFY(sendKeys(keys));
        QTRY_COMPARE_WITH_TIMEOUT(presses, 2, waitLimit);
        {
            QVERIFY(sendKeys(lockKey));
            const auto lockOff = qScopeGuard([&lockKey] { sendKeys(lockKey); });
            QVERIFY(sendKeys(keys));
            QTRY_COMPARE_WITH_TIMEOUT(presses, 3, waitLimit);
        }

        // After unregistering, a sentinel pressed last proves the old combo's press was seen and ignored.
        registrar.unregister();
        int sentinel = 0;
        QVERIFY(registrar.registerHotkey(KeyCombo{46, ctrl | opt}, [&sentinel] { ++sentinel; }));
        QCOMPARE(raw->filterInstallCount(), 1);
        QVERIFY(sendKeys(keys));
        QVERIFY(sendKeys(QStringLiteral("ctrl+alt+m")));
        QTRY_COMPARE_WITH_TIMEOUT(sentinel, 1, waitLimit);
        QCOMPARE(presses, 3);
    }

    void refusedCombosAreReported()
    {
        REQUIRE_X_SERVER();
        // Another client, on its own connection, holds control option J without locks.
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        const auto disconnect = qScopeGuard([other] { xcb_disconnect(other); });
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
        xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(symbols, XK_j);
        const xcb_keycode_t j = keycodes ? keycodes[0] : 0;
        std::free(keycodes);
        xcb_key_symbols_free(symbols);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        const auto grab = [&](quint16 modifiers) {
            xcb_generic_error_t* error =
                xcb_request_check(other, xcb_grab_key_checked(other, 0, root, modifiers, j,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            std::free(error);
            return error == nullptr;
        };
        constexpr quint16 controlAlt = x11::controlMask | 0x08;
        QVERIFY(grab(controlAlt));

        HotkeyRegistrar registrar(X11HotkeyBackend::create());
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("⌃⌥J refused by the display server: BadAccess"));
        QVERIFY(!registrar.registerHotkey(KeyCombo{38, ctrl | opt}, [] {}) && !registrar.isRegistered());
        // Nothing is left half-taken: the lock variants are free for others.
        QVERIFY(grab(controlAlt | 0x10) && grab(controlAlt | x11::lockMask));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("⌘\\? cannot be typed on this desktop"));
        QVERIFY(!registrar.registerHotkey(KeyCombo{53, cmd}, [] {}));
    }
};

QTEST_MAIN(X11HotkeyBackendTest)
#include "tst_x11hotkeybackend.moc"
