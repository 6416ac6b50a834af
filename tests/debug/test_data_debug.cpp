// The debugging window on the offscreen platform: presets from the module's values, the closing
// steps, key filters, rows (Hex, rename, all-boxes), import and export, and the wheel.
#include "debug/recv_model.h"
#include "debug_harness.h"

#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTcpServer>
#include <QWheelEvent>

#include <sys/stat.h>

using namespace varnix;
using namespace varnix::test;

TEST(DataDebugPresets, RoleMirrorsTheModulesWorkModeAndAddressesTheModule) {
    struct TCase {
        int workMode;
        const char* role;
        const char* port;
        const char* button;
        const char* ip;
    } cases[] = {
        {3, "TCP Client", "4001", "Connect", "10.0.0.50"}, // connects to the module itself
        {0, "UDP Server", "5555", "Start", "10.0.0.9"},    // serves where the module sends
        {1, "TCP Server", "5555", "Start", "10.0.0.9"},
        {2, "UDP Client", "4001", "Start", "10.0.0.1"}, // this PC's address that heard the module
    };
    TDebugHarness h;
    for (const TCase& c : cases) {
        h.Open({c.workMode, QStringLiteral("10.0.0.9"), QStringLiteral("4001"), QStringLiteral("5555")},
               {QStringLiteral("10.0.0.50"), QStringLiteral("10.0.0.1")});
        EXPECT_EQ(h.Combo("cbbProtrolType")->currentText(), QString::fromLatin1(c.role)) << c.workMode;
        EXPECT_EQ(h.Edit("edtPort")->text(), QString::fromLatin1(c.port)) << c.workMode;
        EXPECT_EQ(h.Button("btnConnet")->text(), QString::fromLatin1(c.button)) << c.workMode;
        EXPECT_EQ(h.Combo("cbbIP")->currentText(), QString::fromLatin1(c.ip)) << c.workMode;
        EXPECT_TRUE(h.Win->StatusText().isEmpty());
        h.Win->close();
    }
    // Opened for no module: a TCP client waits for the address to be typed.
    h.Open({3, QStringLiteral("10.0.0.9"), QStringLiteral("4001"), QStringLiteral("5555")});
    EXPECT_EQ(h.Combo("cbbIP")->currentText(), QString());
    h.Win->close();
    // An HTTPD client selects nothing and leaves the port as it was.
    h.Open({4, QStringLiteral("10.0.0.1"), QStringLiteral("1"), QStringLiteral("2")});
    EXPECT_EQ(h.Combo("cbbProtrolType")->currentIndex(), -1);
    EXPECT_EQ(h.Edit("edtPort")->text(), QStringLiteral("4001"));
    // The first opening found no DataSelf.txt, which nobody chose: no message. Every closing wrote it.
    EXPECT_TRUE(h.Prompts.Messages().empty());
    EXPECT_TRUE(QFile::exists(h.Win->DefaultCmdFile()));
    // A list the user chose that has gone since is worth a word.
    h.UseCmdFile(h.Home.filePath(QStringLiteral("gone.txt")));
    h.Open({0, QString(), QString(), QString()});
    ASSERT_EQ(h.Prompts.Messages().size(), 1u);
    EXPECT_EQ(h.Prompts.Messages()[0].text, QStringLiteral("The file does not exist, please choose again!"));
}

TEST(DataDebugPresets, AUdpRoleSendsToTheModule) {
    TDebugHarness h;
    h.Open({0, QStringLiteral("127.0.0.1"), QStringLiteral("4001"), QStringLiteral("0")},
           {QStringLiteral("127.0.0.5"), QStringLiteral("127.0.0.1")});
    h.Button("btnConnet")->click();
    ASSERT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Stop")) << h.Win->StatusText().toStdString();
    EXPECT_EQ(h.Edit("edtLoIP")->text(), QStringLiteral("127.0.0.5"));
    EXPECT_EQ(h.Edit("edtLoport")->text(), QStringLiteral("4001"));
    h.Win->close();
}

TEST(DataDebugKeys, EnterPressesNoButton) {
    // Keyboard only: Enter on a focused button or in a field must not clear, connect or import.
    TDebugHarness h;
    h.Open({0, QStringLiteral("127.0.0.1"), QStringLiteral("0"), QStringLiteral("0")});
    h.Win->activateWindow();
    h.Win->Received().Queue({QTime(10, 0), QStringLiteral("10.0.0.50:4001"), QByteArray("kept")});
    h.Win->Received().Flush();
    h.Win->CmdRow(0)->SetRow({true, QStringLiteral("n"), QStringLiteral("keep me"), false, QString()});
    for (const char* name : {"btnRecvClear", "btnClearAll", "btnConnet", "btnImport"}) {
        QPushButton* button = h.Button(name);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter);
        EXPECT_FALSE(button->isDefault()) << name;
    }
    QTest::keyClick(h.Win->CmdRow(0)->findChild<QLineEdit*>(QStringLiteral("edtCmd")), Qt::Key_Return);
    QTest::keyClick(h.Edit("edtCycle"), Qt::Key_Return);
    EXPECT_EQ(h.Win->Received().rowCount(), 1);
    EXPECT_EQ(h.Win->CmdRow(0)->Cmd(), QStringLiteral("keep me"));
    EXPECT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Start"));
    EXPECT_TRUE(h.Prompts.Messages().empty());
    EXPECT_TRUE(h.Win->isVisible());

    // The pointer crossing the command list leaves the keys in the field being typed into.
    QLineEdit* cycle = h.Edit("edtCycle");
    cycle->setFocus(Qt::TabFocusReason);
    auto* rows = h.Win->findChild<QWidget*>(QStringLiteral("ScrollBox2Contents"));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), rows->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(rows, &move);
    EXPECT_TRUE(cycle->hasFocus());
}

TEST(DataDebugWindow, EscClosesTheRoleStopsTheCycleAndSavesTheRows) {
    TDebugHarness h;
    h.Open({0, QStringLiteral("127.0.0.1"), QStringLiteral("0"), QStringLiteral("0")});
    h.Win->CmdRow(4)->SetRow(
        {true, QStringLiteral("ping it"), QStringLiteral("ping"), false, QStringLiteral("10")});
    h.Button("btnConnet")->click();
    ASSERT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Stop")) << h.Win->StatusText().toStdString();
    EXPECT_FALSE(h.Combo("cbbIP")->isEnabled());
    EXPECT_TRUE(h.Edit("edtLoIP")->isVisibleTo(h.Win.get()));
    EXPECT_EQ(h.Edit("edtLoIP")->text(), QStringLiteral("127.0.0.1"));
    h.Button("btnCycleSend")->click();
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Stop send"));
    // Emptying the interval during a run leaves the cycle stoppable by its button.
    h.Edit("edtCycle")->selectAll();
    QTest::keyClick(h.Edit("edtCycle"), Qt::Key_Backspace);
    ASSERT_TRUE(h.Button("btnCycleSend")->isEnabled());
    h.Button("btnCycleSend")->click();
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Cycle send"));
    EXPECT_FALSE(h.Button("btnCycleSend")->isEnabled());
    QTest::keyClicks(h.Edit("edtCycle"), QStringLiteral("50"));
    h.Button("btnCycleSend")->click();
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Stop send"));

    QTest::keyClick(h.Win.get(), Qt::Key_Escape);
    EXPECT_FALSE(h.Win->isVisible());
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Cycle send"));
    EXPECT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Start"));
    EXPECT_TRUE(h.Combo("cbbIP")->isEnabled());
    EXPECT_FALSE(h.Edit("edtLoIP")->isVisibleTo(h.Win.get()));
    const TCmdFileRead saved = ReadCmdFile(h.Win->DefaultCmdFile());
    ASSERT_TRUE(saved.Content);
    EXPECT_EQ(saved.Content->Rows.size(), 50u);
    EXPECT_EQ(saved.Content->Rows[4]->Name, QStringLiteral("ping it"));
}

TEST(DataDebugWindow, MissingAddressOrNoRoleOnlySaysSo) {
    TDebugHarness h;
    h.Open({0, QString(), QStringLiteral("0"), QStringLiteral("0")});
    h.Button("btnConnet")->click();
    EXPECT_EQ(h.Win->StatusText(), QStringLiteral("Please enter IP and port!"));
    EXPECT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Start"));
    h.Button("btnCycleSend")->click();
    EXPECT_EQ(h.Win->StatusText(), QStringLiteral("Please create a connection first."));
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Cycle send"));
}

TEST(DataDebugWindow, AFailedConnectGivesTheControlsBack) {
    TDebugHarness h;
    QTcpServer probe; // a port on which nothing listens afterwards
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    h.Open({3, QString(), QString::number(port), QString()});
    h.Combo("cbbIP")->setEditText(QStringLiteral("127.0.0.1"));
    h.Button("btnConnet")->click();
    EXPECT_FALSE(h.Edit("edtPort")->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return h.Edit("edtPort")->isEnabled(); }, 3000));
    EXPECT_TRUE(h.Win->StatusText().startsWith(
        QStringLiteral("An error occurred in the connection with the server!")));
    EXPECT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Connect"));
}

TEST(DataDebugKeys, DigitFieldsTakeDigitsAndTheDelayStaysBelow65536) {
    TDebugHarness h;
    h.Open({0, QStringLiteral("127.0.0.1"), QString(), QString()});
    for (const char* name : {"edtPort", "edtCycle", "edtLoport"}) {
        QLineEdit* e = h.Edit(name);
        e->clear();
        QTest::keyClicks(e, QStringLiteral("1a2-3 "));
        EXPECT_EQ(e->text(), QStringLiteral("123")) << name;
    }
    QLineEdit* delay = h.Win->CmdRow(0)->findChild<QLineEdit*>(QStringLiteral("edtDelay"));
    QTest::keyClicks(delay, QStringLiteral("65535"));
    EXPECT_EQ(delay->text(), QStringLiteral("65535"));
    QTest::keyClick(delay, Qt::Key_Backspace);
    QTest::keyClicks(delay, QStringLiteral("6"));
    EXPECT_TRUE(delay->text().isEmpty()); // 65536 is emptied as it is typed
    // An empty interval disables the cycle button.
    QLineEdit* cycle = h.Edit("edtCycle");
    cycle->selectAll();
    QTest::keyClick(cycle, Qt::Key_Backspace);
    EXPECT_FALSE(h.Button("btnCycleSend")->isEnabled());
    QTest::keyClicks(cycle, QStringLiteral("5"));
    EXPECT_TRUE(h.Button("btnCycleSend")->isEnabled());
}

TEST(DataDebugRows, HexToggleRenameAndTheAllBoxes) {
    TDebugHarness h;
    h.Open({0, QString(), QString(), QString()});
    TFrameCmd* row = h.Win->CmdRow(2);
    auto* cmd = row->findChild<QLineEdit*>(QStringLiteral("edtCmd"));
    auto* hex = row->findChild<QCheckBox*>(QStringLiteral("chkHex"));
    cmd->setText(QStringLiteral("AB"));
    hex->click();
    EXPECT_EQ(cmd->text(), QStringLiteral("41 42"));
    hex->click();
    EXPECT_EQ(cmd->text(), QStringLiteral("AB"));
    // Typed as pairs in the text form, then ticked: the pairs are the bytes.
    cmd->setText(QStringLiteral("0D 0A 41 42"));
    hex->click();
    EXPECT_TRUE(hex->isChecked());
    EXPECT_EQ(cmd->text(), QStringLiteral("0D 0A 41 42"));
    // CR LF has no text form in one line: unticking leaves it in hex and says so.
    hex->click();
    EXPECT_TRUE(hex->isChecked());
    EXPECT_EQ(cmd->text(), QStringLiteral("0D 0A 41 42"));
    EXPECT_TRUE(h.Win->StatusText().startsWith(QStringLiteral("Row 3:")))
        << h.Win->StatusText().toStdString();
    cmd->setText(QStringLiteral("4G"));
    hex->click(); // off: not hex, so unchanged
    EXPECT_FALSE(hex->isChecked());
    EXPECT_EQ(cmd->text(), QStringLiteral("4G"));

    // The name button shows the beginning of a name too long for it, the whole name as its tooltip.
    auto* name = row->findChild<QPushButton*>(QStringLiteral("btnExplanation"));
    EXPECT_TRUE(name->text().startsWith(QStringLiteral("Right"))) << name->text().toStdString();
    const QString longName = QStringLiteral("Read the holding registers of unit 7");
    row->SetName(longName);
    EXPECT_TRUE(name->text().startsWith(QStringLiteral("Read the"))) << name->text().toStdString();
    EXPECT_TRUE(name->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(name->toolTip(), longName);

    h.Prompts.NextInput(QStringLiteral("Read version"));
    row->Rename();
    EXPECT_EQ(row->Name(), QStringLiteral("Read version"));
    h.Prompts.NextInput(std::nullopt);
    row->Rename();
    EXPECT_EQ(row->Name(), QStringLiteral("Read version"));
    h.Prompts.NextInput(QStringLiteral("R&D"));
    row->Rename();
    EXPECT_TRUE(row->Name().isEmpty());
    EXPECT_EQ(h.Prompts.Messages().back().text, h.Context.Text("lang_Hint_FrameCmd_NoAmp"));

    h.Win->CmdRow(0)->SetRow({false, QStringLiteral("n"), QStringLiteral("hi"), false, QString()});
    h.Win->CmdRow(1)->SetRow({false, QStringLiteral("n"), QStringLiteral("6869"), true, QString()});
    h.Win->findChild<QCheckBox*>(QStringLiteral("chkHexAll"))->click();
    EXPECT_EQ(h.Win->CmdRow(0)->Cmd(), QStringLiteral("68 69"));
    EXPECT_EQ(h.Win->CmdRow(1)->Cmd(), QStringLiteral("6869")); // already hex: unchanged
    h.Win->findChild<QCheckBox*>(QStringLiteral("chkChooseAll"))->click();
    EXPECT_TRUE(h.Win->CmdRow(49)->Chosen());
    h.Button("btnClearAll")->click();
    EXPECT_FALSE(h.Win->CmdRow(49)->Chosen());
    EXPECT_EQ(h.Win->CmdRow(0)->Name(), QStringLiteral("Right custom name"));
    EXPECT_FALSE(h.Win->findChild<QCheckBox*>(QStringLiteral("chkHexAll"))->isChecked());
}

TEST(DataDebugFiles, ImportTakesOnlyACommandListAndExportAddsTheSuffix) {
    TDebugHarness h;
    h.Open({0, QString(), QString(), QString()});
    const QString list = h.Home.filePath(QStringLiteral("mine.txt"));
    ASSERT_TRUE(WriteCmdFile(
        list, {{true, QStringLiteral("a b"), QStringLiteral("x|y"), false, QStringLiteral("5")}}));
    const QString prose = h.Home.filePath(QStringLiteral("notes.txt"));
    {
        QFile f(prose);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Shopping: milk, bread\n");
    }
    h.Prompts.NextOpenFile(list);
    h.Button("btnImport")->click();
    EXPECT_EQ(h.CmdFilePath(), list);
    EXPECT_EQ(h.Win->CmdRow(0)->Row().Cmd, QStringLiteral("x|y"));

    h.Prompts.Clear();
    h.Prompts.NextOpenFile(prose);
    h.Button("btnImport")->click();
    EXPECT_EQ(h.CmdFilePath(), list); // closing will not overwrite the notes
    EXPECT_EQ(h.Win->CmdRow(0)->Row().Name, QStringLiteral("a b"));
    ASSERT_EQ(h.Prompts.Messages().size(), 1u);
    EXPECT_TRUE(h.Prompts.Messages()[0].text.startsWith(QStringLiteral("The file is not a command list")));

    h.Win->CmdRow(0)->SetRow({false, QStringLiteral("changed"), QString(), false, QString()});
    h.Button("btnImport")->click(); // cancelled: the rows keep the edit
    EXPECT_EQ(h.Win->CmdRow(0)->Row().Name, QStringLiteral("changed"));

    h.Prompts.NextSaveFile(h.Home.filePath(QStringLiteral("export")));
    h.Button("btnExport")->click();
    EXPECT_EQ(h.CmdFilePath(), h.Home.filePath(QStringLiteral("export.txt")));
    EXPECT_TRUE(ReadCmdFile(h.CmdFilePath()).Content);
    h.Win->close();
    EXPECT_FALSE(QFile::exists(h.Win->DefaultCmdFile())); // the chosen file exists, so it was saved there
}

TEST(DataDebugFiles, AListFileItRefusedIsNeverWrittenOver) {
    // Each kind of file the window refuses to load, as the list's path: closing writes nothing
    // over it (and nothing elsewhere), and the refusal said so once.
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    ASSERT_TRUE(WriteCmdFile(good, {{true, QStringLiteral("n"), QStringLiteral("c"), false, QString()}}));
    const QString big = dir.filePath(QStringLiteral("big.txt"));
    ASSERT_TRUE(QFile(big).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::resize(big, 100LL << 20)); // sparse: no disk used
    const QString binary = dir.filePath(QStringLiteral("binary.txt"));
    static const char elf[] = "\x7F"
                              "ELF\x02\x01\x01\x00\x00\x00true|x|y|false|1\n";
    const QByteArray binaryBytes(elf, sizeof elf - 1);
    {
        QFile f(binary);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(binaryBytes);
    }
    const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(good, link));
    const QByteArray goodBytes = [&] {
        QFile f(good);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    for (const QString& path : {big, binary, fifo, link}) {
        SCOPED_TRACE(path.toStdString());
        TDebugHarness h;
        h.UseCmdFile(path);
        h.Open({0, QString(), QString(), QString()});
        h.Win->CmdRow(3)->SetRow({true, QStringLiteral("typed"), QStringLiteral("x"), false, QString()});
        h.Win->close();
        ASSERT_EQ(h.Prompts.Messages().size(), 1u);
        EXPECT_TRUE(h.Prompts.Messages()[0].text.contains(QStringLiteral("will not be saved over")));
        EXPECT_FALSE(QFile::exists(h.Win->DefaultCmdFile()));
    }
    EXPECT_EQ(QFileInfo(big).size(), 100LL << 20);
    QFile b(binary);
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), binaryBytes);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), good);
    QFile g(good);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), goodBytes);
}

TEST(DataDebugWindow, RowsAreFiftyFramesAndTheWheelMovesThirteenPixels) {
    TDebugHarness h;
    h.Open({0, QString(), QString(), QString()});
    for (int i = 0; i < 50; ++i) {
        auto* row = h.Win->findChild<TFrameCmd*>(QStringLiteral("C%1").arg(i));
        ASSERT_NE(row, nullptr) << i;
        EXPECT_EQ(row->height(), 25);
        EXPECT_FALSE(row->findChild<QLabel*>(QStringLiteral("lblNo"))->isVisibleTo(row));
    }
    auto* box = h.Win->findChild<QScrollArea*>(QStringLiteral("ScrollBox2"));
    QScrollBar* bar = box->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    bar->setValue(0);
    const QPoint at(10, 10);
    QWheelEvent down(at, box->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -240), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box->viewport(), &down);
    EXPECT_EQ(bar->value(), 26);
}
