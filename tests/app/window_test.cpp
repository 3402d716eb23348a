// window_test.cpp - the main window on the simulated board: real widgets, mouse and key input,
// and what the board's motors and lines did.
#include "app/befehle_main.h"
#include "app/radio_group.h"
#include "board_log.h"
#include "sim_rig.h"

#include "lpt/lpt.h"
#include "platform/thread.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <thread>

using kdx620::test::kBase;
using kdx620::test::SimRig;

namespace {

// The one command-line parameter after the program's path; a test may set it to "/time".
char extraParameter[32] = "--window-test";

QRadioButton *Item(RadioGroup *group, int index) {
  return group->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly).at(index);
}

// Lengths of the runs of consecutive latches of one axis that were longer than one latch:
// the axes a sequence of moves stepped, in order (holding patterns come one per axis).
std::vector<int> MovedAxesInOrder(const platform::SimBoard &board) {
  std::vector<int> moved;
  const auto axes = kdx620::test::latchedAxes(board);
  for (std::size_t at = 0; at < axes.size();) {
    std::size_t end = at;
    while (end < axes.size() && axes[end] == axes[at]) {
      ++end;
    }
    if (end - at > 1 && (moved.empty() || moved.back() != axes[at])) {
      moved.push_back(axes[at]);
    }
    at = end;
  }
  return moved;
}

std::time_t ModificationTime(const std::filesystem::path &file) {
  struct stat status {};
  return ::stat(file.c_str(), &status) == 0 ? status.st_mtime : 0;
}

} // namespace

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<SimRig> rig;
  std::unique_ptr<TMainForm> form;

  // A window started on a fresh simulated board.
  void open(const platform::SimConfig &config = {}) {
    form.reset();
    rig.reset(); // the old rig puts the platform back before the new one takes it
    rig = std::make_unique<SimRig>();
    rig->useBoard(config);
    form = std::make_unique<TMainForm>();
  }
  void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
  platform::SimBoard &board() { return *rig->board; }

private slots:
  void initTestCase() { platform::allowRealTime(false); }

  void cleanup() {
    form.reset();
    rig.reset();
    std::strcpy(extraParameter, "--window-test");
  }

  void startUpLeavesDriverBoardAndFieldsAtTheirDefaults() {
    open();
    QCOMPARE(form->windowTitle(), QStringLiteral("KDX620/960 Befehle  (10.10.09)"));
    QCOMPARE(lpt::portData, std::uint16_t{0xdf88});
    QCOMPARE(lpt::maxPhase, std::uint8_t{7});
    QCOMPARE(lpt::holdPattern[0], 0x37U);
    QCOMPARE(lpt::LptState.refSingleInput, std::uint8_t{1});
    QCOMPARE(lpt::LptState.refHighActive, std::uint8_t{1});
    QVERIFY(!board().pinHigh(14));
    for (int axis = 0; axis < 3; ++axis) {
      QCOMPARE(board().latch(axis), std::uint8_t{0x37});
    }
    const std::pair<QLineEdit *, const char *> fields[] = {
        {form->LPTAdrEdit, "0xdf88"},   {form->StartFreqEdit, "200"},
        {form->ArbeitsFreqEdit, "600"}, {form->RampenLaengeEdit, "100"},
        {form->xAchseEdit, "1000"},     {form->yAchseEdit, "0"},
        {form->zAchseEdit, "0"},        {form->RefFreqEdit, "500"},
        {form->RefOffsetEdit, "25"}};
    for (const auto &[edit, text] : fields) {
      QCOMPARE(edit->text(), QString::fromLatin1(text));
    }
    QCOMPARE(form->SchnittstelleRadioGroup->itemIndex(), 2);
    QCOMPARE(form->SchrittbetriebRadioGroup->itemIndex(), 0);
    QCOMPARE(form->RuhestromRadioGroup->itemIndex(), 1);
    QCOMPARE(form->AusgangRadioGroup->itemIndex(), 0);
    QVERIFY(!form->RefEingangSpeedButton->isChecked());
    QVERIFY(!form->E1CheckBox->isChecked());
    QVERIFY(form->findChild<QLabel *>(QStringLiteral("StatusStrip"))->text().contains("sim"));
  }

  void vektorfahrtMovesXAThousandHalfStepsAndHoldsAfterwards() {
    open();
    click(form->VektorfahrtFahrtButton);
    QCOMPARE(board().position(0), std::int64_t{1000});
    QCOMPARE(board().lostSteps(), 0U);
    // The last byte for x is its holding pattern, the running one having been replaced.
    QCOMPARE(board().latch(0), std::uint8_t{0x37});
    QCOMPARE(board().motor(0).windingLevel(1), std::uint8_t{2});
  }

  void fieldsConvertAsTheirTextsSay_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("steps");
    QTest::newRow("letters") << "abc" << qint64{0};
    QTest::newRow("empty") << "" << qint64{0};
    QTest::newRow("blank and minus") << " -25" << qint64{-25};
    QTest::newRow("plus") << "+7" << qint64{7};
    QTest::newRow("comma fraction") << "12,7" << qint64{12};
    QTest::newRow("hexadecimal") << "0x10" << qint64{0};
    QTest::newRow("beyond 32 bits wraps") << "4294967301" << qint64{5};
  }
  void fieldsConvertAsTheirTextsSay() {
    QFETCH(QString, text);
    QFETCH(qint64, steps);
    open();
    form->xAchseEdit->setText(text);
    form->StartFreqEdit->setText(QStringLiteral("4294967496")); // 2^32 + 200
    click(form->VektorfahrtFahrtButton);
    QCOMPARE(board().position(0), steps);
  }

  void referenzfahrtHomesZThenXThenY() {
    platform::SimConfig config;
    config.switchPosition = {-4, -6, -5};
    open(config);
    board().enableLog(4096);
    click(form->ReferenzfahrtButton);
    QCOMPARE(MovedAxesInOrder(board()), (std::vector<int>{2, 0, 1}));
    QCOMPARE(board().position(0), std::int64_t{-3 + 25});
    QCOMPARE(board().position(1), std::int64_t{-5 + 25});
    QCOMPARE(board().position(2), std::int64_t{-4 + 25});
  }

  void axisButtonsHomeTheirAxis_data() {
    QTest::addColumn<int>("axis");
    QTest::newRow("X") << 0;
    QTest::newRow("Y") << 1;
    QTest::newRow("Z") << 2;
  }
  void axisButtonsHomeTheirAxis() {
    QFETCH(int, axis);
    platform::SimConfig config;
    config.switchPosition = {-4, -4, -4};
    open(config);
    form->RefOffsetEdit->setText(QStringLiteral("10"));
    form->ArbeitsFreqEdit->setText(QStringLiteral("abc")); // reference runs do not read it
    QPushButton *buttons[] = {form->xRefButton, form->yRefButton, form->zRefButton};
    click(buttons[axis]);
    for (int other = 0; other < 3; ++other) {
      QCOMPARE(board().position(other), other == axis ? std::int64_t{-3 + 10} : std::int64_t{0});
    }
  }

  void outputGroupSetsAndResetsPin14() {
    open();
    click(Item(form->AusgangRadioGroup, 1));
    QVERIFY(board().pinHigh(14));
    click(Item(form->AusgangRadioGroup, 0));
    QVERIFY(!board().pinHigh(14));
  }

  void highaktivFlipsThePolarityAndKeepsItsCaption() {
    open();
    click(form->RefEingangSpeedButton);
    QVERIFY(form->RefEingangSpeedButton->isChecked());
    QCOMPARE(lpt::LptState.refHighActive, std::uint8_t{0});
    click(form->RefEingangSpeedButton);
    QVERIFY(!form->RefEingangSpeedButton->isChecked());
    QCOMPARE(lpt::LptState.refHighActive, std::uint8_t{1});
    QCOMPARE(form->RefEingangSpeedButton->text(), QStringLiteral("highaktiv"));
  }

  void portChoicesSetTheAddress() {
    open();
    click(Item(form->SchnittstelleRadioGroup, 0));
    QCOMPARE(lpt::portData, std::uint16_t{0x378});
    click(Item(form->SchnittstelleRadioGroup, 1));
    QCOMPARE(lpt::portData, std::uint16_t{0x278});
    form->LPTAdrEdit->setText(QStringLiteral("  0x3BC \t"));
    click(Item(form->SchnittstelleRadioGroup, 2));
    QCOMPARE(lpt::portData, std::uint16_t{0x3BC});
    click(Item(form->SchnittstelleRadioGroup, 2)); // chosen again: nothing happens
    QVERIFY(rig->boxes.empty());
    // An empty address keeps the port and says so.
    click(Item(form->SchnittstelleRadioGroup, 0));
    form->LPTAdrEdit->clear();
    click(Item(form->SchnittstelleRadioGroup, 2));
    QCOMPARE(lpt::portData, std::uint16_t{0x378});
    QCOMPARE(rig->boxes.size(), std::size_t{1});
  }

  void stepModeFollowsTheArrowKeys() {
    open();
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QRadioButton *half = Item(form->SchrittbetriebRadioGroup, 0);
    half->setFocus();
    QTest::keyClick(half, Qt::Key_Down);
    QCOMPARE(form->SchrittbetriebRadioGroup->itemIndex(), 1);
    QCOMPARE(lpt::maxPhase, std::uint8_t{3});
    QCOMPARE(board().latch(0), std::uint8_t{0x16}); // full step, index 0, " 20%"
  }

  void tabOrderRunsThroughTheFieldsAsLaidOut() {
    open();
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->StartFreqEdit->setFocus();
    // Each radio group is one stop, at its selected item.
    const QWidget *expected[] = {form->ArbeitsFreqEdit,
                                 form->RampenLaengeEdit,
                                 form->xAchseEdit,
                                 form->yAchseEdit,
                                 form->zAchseEdit,
                                 form->VektorfahrtFahrtButton,
                                 form->E1CheckBox,
                                 form->ReferenzfahrtButton,
                                 form->RefFreqEdit,
                                 form->RefOffsetEdit,
                                 form->xRefButton,
                                 form->yRefButton,
                                 form->zRefButton,
                                 form->SchliessenButton,
                                 Item(form->SchrittbetriebRadioGroup, 0),
                                 Item(form->RuhestromRadioGroup, 1),
                                 Item(form->SchnittstelleRadioGroup, 2),
                                 Item(form->AusgangRadioGroup, 0),
                                 form->LPTAdrEdit};
    for (const QWidget *next : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
  }

  void e1CheckedWaitsUntilE1Rises() {
    open();
    board().setE1(false);
    form->E1CheckBox->setChecked(true);
    std::atomic<bool> raised = false;
    std::thread operatorsHand([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      raised = true;
      board().setE1(true);
    });
    click(form->VektorfahrtFahrtButton);
    operatorsHand.join();
    QVERIFY(raised);
    QCOMPARE(board().position(0), std::int64_t{1000});
  }

  void timeOptionStampsBeforeThePortOpensEvenWhenItCannot() {
    const auto probe = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
                       "window-test-probe.TXT";
    const std::time_t stamped = 1255162200; // 10 October 2009, 08:10:00 UTC
    for (const bool portOpens : {true, false}) {
      std::ofstream(probe) << "probe\n";
      std::strcpy(extraParameter, "/time");
      rig.reset();
      rig = std::make_unique<SimRig>();
      std::time_t seenAtOpen = 0;
      rig->recorder->onStart = [&] { seenAtOpen = ModificationTime(probe); };
      rig->recorder->startFailure = portOpens ? "" : "no port";
      form = std::make_unique<TMainForm>();
      QCOMPARE(seenAtOpen, stamped);
      QCOMPARE(TerminateRequested(), !portOpens);
      QCOMPARE(lpt::portData, static_cast<std::uint16_t>(portOpens ? 0xdf88 : 0));
      form.reset();
    }
    std::filesystem::remove(probe);
  }

  void timeOptionMatchesOnlyTheWholeWord() {
    const auto probe = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
                       "window-test-probe.txt";
    for (const char *parameter : {"/TIMES", "TIME", "-time", "/TlME"}) {
      std::ofstream(probe) << "probe\n";
      const std::time_t before = ModificationTime(probe);
      std::strcpy(extraParameter, parameter);
      open();
      QCOMPARE(ModificationTime(probe), before);
    }
    std::filesystem::remove(probe);
  }

  void aCounterThatFailsEndsTheStartAndGivesThePortBack() {
    rig.reset();
    rig = std::make_unique<SimRig>();
    platform::FakeCounter absent(0);
    platform::installCounter(&absent);
    form = std::make_unique<TMainForm>();
    QCOMPARE(rig->boxes.size(), std::size_t{1});
    QVERIFY(rig->boxes[0].find("QueryPerformanceFrequency() failed.") == 0);
    QCOMPARE(rig->recorder->stops, 1);
    QCOMPARE(lpt::portData, std::uint16_t{0});
    QVERIFY(TerminateRequested());
    form.reset();
    platform::installCounter(&rig->counter);
  }

  void closingShutsThePortDownOnce() {
    open();
    form->show();
    click(form->SchliessenButton);
    QVERIFY(!form->isVisible());
    QCOMPARE(rig->recorder->stops, 1);
  }

  // With the font the form uses, every caption fits its control and no two controls overlap,
  // but for the address field that lies over the port group by design.
  void controlsShowTheirWholeCaptionsAndDoNotOverlap() {
    open();
    for (QWidget *control : form->findChildren<QWidget *>()) {
      const QString name = control->objectName();
      const QFontMetrics metrics = control->fontMetrics();
      if (auto *push = qobject_cast<QPushButton *>(control)) {
        const int margin = push->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
        QVERIFY2(metrics.horizontalAdvance(push->text()) + margin <= push->width(),
                 qPrintable(name));
      } else if (qobject_cast<QLabel *>(control) || qobject_cast<QCheckBox *>(control) ||
                 qobject_cast<QRadioButton *>(control) || qobject_cast<QToolButton *>(control)) {
        QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(name));
        QVERIFY2(metrics.height() <= control->height(), qPrintable(name));
      } else if (auto *group = qobject_cast<QGroupBox *>(control)) {
        QVERIFY2(metrics.horizontalAdvance(group->title()) + 16 <= group->width(),
                 qPrintable(name));
      }
      const QWidget *parent = control->parentWidget();
      for (QWidget *sibling : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const bool byDesign =
            (control == form->LPTAdrEdit && sibling == form->SchnittstelleRadioGroup) ||
            (sibling == form->LPTAdrEdit && control == form->SchnittstelleRadioGroup);
        if (sibling != control && !byDesign && !control->isWindow()) {
          QVERIFY2(!control->geometry().intersects(sibling->geometry()),
                   qPrintable(name + " overlaps " + sibling->objectName()));
        }
      }
    }
    // The address field lies to the right of the item " Adr.:", not over it.
    const QRect address =
        form->LPTAdrEdit->geometry().translated(-form->SchnittstelleRadioGroup->pos());
    QVERIFY(!Item(form->SchnittstelleRadioGroup, 2)->geometry().intersects(address));
  }

#ifdef KDX620_GOLDEN
  // Built with the trace: the window's move writes what kdx620ctl's "move 3 0 0" writes.
  void vektorfahrtTracesAsTheCommandLineTool() {
    const auto previous = std::filesystem::current_path();
    const auto folder = std::filesystem::temp_directory_path() / "kdx620-window-trace";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    open();
    form->xAchseEdit->setText(QStringLiteral("3"));
    click(form->VektorfahrtFahrtButton);
    form->close();
    std::ifstream written("ausgabe.txt");
    std::ifstream expected(KDX620_GOLDEN "/move_3_0_0.trace");
    const std::string trace{std::istreambuf_iterator<char>(written), {}};
    const std::string golden{std::istreambuf_iterator<char>(expected), {}};
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    QCOMPARE(QString::fromStdString(trace), QString::fromStdString(golden));
  }
#endif

  void activationCentresTheWindow() {
    QCOMPARE(CentredOrigin({800, 600}, {478, 603}), QPoint(161, -1));
    QCOMPARE(CentredOrigin({800, 600}, {478, 604}), QPoint(161, -2));
    QCOMPARE(CentredOrigin({1024, 768}, {478, 385}), QPoint(273, 191));
    open();
    form->OnActivate(form.get());
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(form->frameGeometry().topLeft(), CentredOrigin(screen, form->frameGeometry().size()));
  }
};

int main(int argc, char **argv) {
  // The window reads its parameters from the application, so give it one it can change.
  int applicationArgc = 2;
  char *applicationArgv[] = {argv[0], extraParameter, nullptr};
  QApplication application(applicationArgc, applicationArgv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
