// main.cpp - the kdx620 program: the window "KDX620-Befehle" on the chosen port backend, or,
// with --demo, the same commands without a window.
#include "befehle_main.h"
#include "demo.h"
#include "error_box_qt.h"

#include "platform/error_box.h"
#include "platform/port_io.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

namespace {

struct Options {
  std::optional<std::string> io;
  bool demo = false;
  bool help = false;
};

// Our own options; everything else (Qt's, /TIME) stays for Qt and the window.
Options ReadOptions(int argc, char **argv) {
  Options options;
  for (int at = 1; at < argc; ++at) {
    const std::string argument = argv[at];
    if (argument == "--io" && at + 1 < argc) {
      options.io = argv[++at];
    } else if (argument.rfind("--io=", 0) == 0) {
      options.io = argument.substr(5);
    } else if (argument == "--demo") {
      options.demo = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    }
  }
  return options;
}

void PrintHelp() {
  std::printf("usage: kdx620 [--io sim|ppdev|direct] [--demo] [/TIME]\n"
              "  --io NAME  port backend (default sim, or the KDX620_IO environment variable)\n"
              "  --demo     run the start-up, a vector move, a reference run of z and pin 14\n"
              "             set/reset without a window, printing the simulated board\n"
              "  /TIME      give the project files in the program's folder one time stamp\n"
              "The simulated board is configured by KDX620_SIM (see the README).\n");
}

} // namespace

int main(int argc, char **argv) {
  const Options options = ReadOptions(argc, argv);
  if (options.help) {
    PrintHelp();
    return 0;
  }
  const std::string backend = platform::chosenPortBackendName(options.io);
  if (const auto error = platform::selectPortBackend(backend)) {
    std::fprintf(stderr, "kdx620: %s\n", error->c_str());
    return 2;
  }
  if (options.demo) {
    return RunHeadlessDemo();
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KDX620-Befehle"));
  try {
    platform::setErrorBoxHandler(ShowModalErrorBox);
    TMainForm form;
    MainForm = &form;
    if (!TerminateRequested()) { // a failed start ends here, after its box
      form.show();
      QApplication::exec();
    }
    MainForm = nullptr; // the form ends with this block
  } catch (const std::exception &failure) {
    MainForm = nullptr;
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          QString::fromUtf8(failure.what()));
  }
  return 0;
}
