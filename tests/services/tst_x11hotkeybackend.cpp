#include "services/hotkey/HotkeyRegistrar.h"
#include "services/hotkey/x11/X11HotkeyBackend.h"
#include "services/hotkey/x11/X11KeyTranslation.h"
#include "settings/KeyCombo.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <X11/keysym.h>
#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace varlo;

namespace {

constexpr auto waitLimit = 3000; // ms
constexpr quint32 ctrl = CarbonModifier::Control;
constexpr quint32 opt = CarbonModifier::Option;
constexpr quint32 cmd = CarbonModifier::Command;
constexpr quint32 shift = CarbonModifier::Shift;

bool sendKeys(const QString& keys)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    if (!xdotool.waitForFinished(waitLimit)) {
        xdotool.kill();
        xdotool.waitForFinished(waitLimit);
        return false;
    }
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

// Another X client on its own connection, to hold grabs against us.
class OtherClient
{
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~OtherClient()
    {
        if (m_symbols)
            xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool usable() const { return m_symbols != nullptr; }

    // True when the server granted the grab.
    bool grab(xcb_keysym_t keysym, quint16 modifiers)
    {
        xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(m_symbols, keysym);
        if (!keycodes)
            return false;
        const xcb_keycode_t keycode = keycodes[0];
        std::free(keycodes);
        xcb_generic_error_t* error =
            xcb_request_check(m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
    xcb_key_symbols_t* m_symbols = nullptr;
};

// Turns a lock on for one test and off again, also when the test fails.
struct LockOn
{
    explicit LockOn(QString key) : key(std::move(key)), on(sendKeys(this->key)) {}
    ~LockOn()
    {
        if (on)
            sendKeys(key);
    }
    QString key;
    bool on;
};

struct Registered
{
    X11HotkeyBackend* backend = nullptr;
    std::unique_ptr<HotkeyRegistrar> registrar;
};

Registered makeRegistrar()
{
    Registered result;
    std::unique_ptr<X11HotkeyBackend> backend = X11HotkeyBackend::create();
    result.backend = backend.get();
    if (backend)
        result.registrar = std::make_unique<HotkeyRegistrar>(std::move(backend));
    return result;
}

} // namespace

#define REQUIRE_X_SERVER()                                                                                   \
    do {                                                                                                     \
        if (!X11HotkeyBackend::create())                                                                     \
            QSKIP("no X server: run under xvfb-run with QT_QPA_PLATFORM=xcb");                               \
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())                             \
            QSKIP("xdotool is not installed");                                                               \
    } while (false)

class X11HotkeyBackendTest : public QObject
{
    Q_OBJECT

private slots:
    void keysymsRoundTrip();
    void modifierMasks_data();
    void modifierMasks();

    void pressRunsHandlerUntilUnregistered_data();
    void pressRunsHandlerUntilUnregistered();
    void registeringTwiceInstallsFilterOnce();
    void comboHeldByAnotherClientIsReported();
    void locksDoNotSilenceTheShortcut_data();
    void locksDoNotSilenceTheShortcut();
    void keyOutsideTheTableIsNotGrabbed();
};

void X11HotkeyBackendTest::keysymsRoundTrip()
{
    const QHash<quint32, quint32> special{{36, XK_Return}, {48, XK_Tab}, {51, XK_BackSpace},
                                          {96, XK_F5},     {122, XK_F1}, {111, XK_F12}};
    for (const quint32 code : KeyCombo::namedKeyCodes()) {
        const std::optional<quint32> keysym = x11::keysymForKeyCode(code);
        QVERIFY2(keysym, qPrintable(QString::number(code)));
        QCOMPARE(x11::keyCodeForKeysym(*keysym), std::optional<quint32>(code));
        // Printable keys: the keysym is the label's character (letters in lower case).
        const QString label = KeyCombo::keyName(code);
        if (label.size() == 1 && label.at(0).unicode() < 0x80)
            QCOMPARE(*keysym, quint32{label.toLower().at(0).unicode()});
        else if (special.contains(code))
            QCOMPARE(*keysym, special.value(code));
    }
    QCOMPARE(x11::keyCodeForKeysym(XK_K), std::optional<quint32>(40));
    QVERIFY(!x11::keysymForKeyCode(53));
    QVERIFY(!x11::keysymForKeyCode(0xFFFFFFFF));
    QVERIFY(!x11::keyCodeForKeysym(XK_Escape));
}

void X11HotkeyBackendTest::modifierMasks_data()
{
    QTest::addColumn<quint32>("carbon");
    QTest::addColumn<quint16>("alt");
    QTest::addColumn<quint16>("super");
    QTest::addColumn<quint16>("expected");

    QTest::newRow("moved alt and super") << (opt | cmd) << quint16{0x20} << quint16{0x80} << quint16{0xA0};
    QTest::newRow("foreign bits dropped") << 0xFFFF00FFu << quint16{0x08} << quint16{0x40} << quint16{0};
}

void X11HotkeyBackendTest::modifierMasks()
{
    QFETCH(quint32, carbon);
    QFETCH(quint16, alt);
    QFETCH(quint16, super);
    QFETCH(quint16, expected);
    QCOMPARE(x11::xModifiersForCarbon(carbon, x11::ModifierMasks{alt, super}), expected);
}

void X11HotkeyBackendTest::pressRunsHandlerUntilUnregistered_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("nearMiss");

    QTest::newRow("control option K") << 40u << (ctrl | opt) << "ctrl+alt+k"
                                      << "ctrl+k";
    QTest::newRow("command shift F5") << 96u << (cmd | shift) << "super+shift+F5"
                                      << "super+F5";
    QTest::newRow("control backslash") << 42u << ctrl << "ctrl+backslash"
                                       << "ctrl+alt+backslash";
}

void X11HotkeyBackendTest::pressRunsHandlerUntilUnregistered()
{
    REQUIRE_X_SERVER();
    QFETCH(quint32, keyCode);
    QFETCH(quint32, modifiers);
    QFETCH(QString, keys);
    QFETCH(QString, nearMiss);

    Registered hotkey = makeRegistrar();
    int presses = 0;
    QVERIFY(hotkey.registrar->registerHotkey(KeyCombo{keyCode, modifiers}, [&presses] { ++presses; }));
    QVERIFY(sendKeys(keys));
    QTRY_COMPARE_WITH_TIMEOUT(presses, 1, waitLimit);

    // The press after a near miss arrives in order, so the miss was seen and ignored.
    QVERIFY(sendKeys(nearMiss));
    QVERIFY(sendKeys(keys));
    QTRY_COMPARE_WITH_TIMEOUT(presses, 2, waitLimit);

    hotkey.registrar->unregister();
    int sentinel = 0;
    QVERIFY(hotkey.registrar->registerHotkey(KeyCombo{46, ctrl | opt}, [&sentinel] { ++sentinel; }));
    QVERIFY(sendKeys(keys));
    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+m")));
    QTRY_COMPARE_WITH_TIMEOUT(sentinel, 1, waitLimit);
    QCOMPARE(presses, 2);
}

void X11HotkeyBackendTest::registeringTwiceInstallsFilterOnce()
{
    REQUIRE_X_SERVER();
    Registered hotkey = makeRegistrar();
    int first = 0, second = 0;
    QVERIFY(hotkey.registrar->registerHotkey(KeyCombo{40, ctrl | opt}, [&first] { ++first; }));
    QVERIFY(hotkey.registrar->registerHotkey(KeyCombo{38, ctrl | opt}, [&second] { ++second; }));
    QCOMPARE(hotkey.backend->filterInstallCount(), 1);

    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+k")));
    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+j")));
    QTRY_COMPARE_WITH_TIMEOUT(second, 1, waitLimit);
    QCOMPARE(first, 0);
}

void X11HotkeyBackendTest::comboHeldByAnotherClientIsReported()
{
    REQUIRE_X_SERVER();
    OtherClient other;
    QVERIFY(other.usable());
    constexpr quint16 controlAlt = x11::controlMask | 0x08;
    QVERIFY(other.grab(XK_j, controlAlt));

    Registered hotkey = makeRegistrar();
    int presses = 0;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("⌃⌥J refused by the display server: BadAccess"));
    QVERIFY(!hotkey.registrar->registerHotkey(KeyCombo{38, ctrl | opt}, [&presses] { ++presses; }));
    QVERIFY(!hotkey.registrar->isRegistered());

    // Nothing is left half-taken: the lock variants are free for others.
    QVERIFY(other.grab(XK_j, controlAlt | 0x10));
    QVERIFY(other.grab(XK_j, controlAlt | x11::lockMask));

    Registered sentinel = makeRegistrar();
    int sentinelPresses = 0;
    QVERIFY(sentinel.registrar->registerHotkey(KeyCombo{46, ctrl | opt}, [&] { ++sentinelPresses; }));
    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+j")));
    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+m")));
    QTRY_COMPARE_WITH_TIMEOUT(sentinelPresses, 1, waitLimit);
    QCOMPARE(presses, 0);
}

void X11HotkeyBackendTest::locksDoNotSilenceTheShortcut_data()
{
    QTest::addColumn<QString>("lockKey");
    QTest::newRow("NumLock") << QStringLiteral("Num_Lock");
    QTest::newRow("CapsLock") << QStringLiteral("Caps_Lock");
}

void X11HotkeyBackendTest::locksDoNotSilenceTheShortcut()
{
    REQUIRE_X_SERVER();
    QFETCH(QString, lockKey);
    Registered hotkey = makeRegistrar();
    int presses = 0;
    QVERIFY(hotkey.registrar->registerHotkey(KeyCombo{40, ctrl | opt}, [&presses] { ++presses; }));
    const LockOn lock(lockKey);
    QVERIFY(lock.on);
    QVERIFY(sendKeys(QStringLiteral("ctrl+alt+k")));
    QTRY_COMPARE_WITH_TIMEOUT(presses, 1, waitLimit);
}

void X11HotkeyBackendTest::keyOutsideTheTableIsNotGrabbed()
{
    if (!X11HotkeyBackend::create())
        QSKIP("no X server: run under xvfb-run with QT_QPA_PLATFORM=xcb");
    Registered hotkey = makeRegistrar();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("⌘\\? cannot be typed on this desktop"));
    QVERIFY(!hotkey.registrar->registerHotkey(KeyCombo{53, cmd}, [] {}));
    QVERIFY(!hotkey.registrar->isRegistered());
}

QTEST_MAIN(X11HotkeyBackendTest)
#include "tst_x11hotkeybackend.moc"
