// parport_fuse.cpp - a FUSE file system of parallel-port device files, each backed by a
// simulated board. QEMU's "-chardev parallel" forwards the guest's port accesses as ppdev
// ioctls on such a file, so the guest's real kernel drivers drive the simulated motors and
// read the simulated switches. At unmount each board's log (as KDX620_SIM=log= writes it) and
// its final state (as kdx620ctl's "sim:" line) are written beside the others, for the QEMU rig
// to compare with kdx620ctl's run on the simulated board.
#define FUSE_USE_VERSION 35

#include "platform/port_address.h"
#include "platform/sim_board.h"

#include <CLI/CLI.hpp>

#include <fuse.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Device {
  std::unique_ptr<platform::SimBoard> board;
  std::uint16_t base = 0;
};

struct Server {
  std::map<std::string, Device> devices; // by path, "/name"
  std::filesystem::path summaries;
  std::ofstream log;
};

Server &server() {
  return *static_cast<Server *>(fuse_get_context()->private_data);
}

Device *deviceAt(const char *path) {
  auto &devices = server().devices;
  const auto it = devices.find(path);
  return it == devices.end() ? nullptr : &it->second;
}

int getAttributes(const char *path, struct stat *attributes, fuse_file_info *) {
  *attributes = {};
  if (std::strcmp(path, "/") == 0) {
    attributes->st_mode = S_IFDIR | 0755;
    attributes->st_nlink = 2;
    return 0;
  }
  if (!deviceAt(path)) {
    return -ENOENT;
  }
  attributes->st_mode = S_IFREG | 0666;
  attributes->st_nlink = 1;
  return 0;
}

int readFolder(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *,
               fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) {
    return -ENOENT;
  }
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const auto &[name, device] : server().devices) {
    fill(buffer, name.c_str() + 1, nullptr, 0, fuse_fill_dir_flags{});
  }
  return 0;
}

int openFile(const char *path, fuse_file_info *) {
  return deviceAt(path) ? 0 : -ENOENT;
}

// Answers the ppdev ioctls as parport_pc would for a port with `device`'s board on it.
int answer(Device &device, unsigned int command, std::uint8_t *data) {
  platform::SimBoard &board = *device.board;
  switch (command) {
  case PPCLAIM:
  case PPRELEASE:
  case PPEXCL:
  case PPSETMODE:
  case PPDATADIR:
    return 0;
  case PPRDATA:
    return board.read(device.base, *data) ? 0 : -EIO;
  case PPRSTATUS:
    return board.read(static_cast<std::uint16_t>(device.base + 1), *data) ? 0 : -EIO;
  case PPRCONTROL:
    if (!board.read(static_cast<std::uint16_t>(device.base + 2), *data)) {
      return -EIO;
    }
    *data &= platform::kControlOutputs;
    return 0;
  case PPWDATA:
    board.write(device.base, *data);
    return 0;
  case PPWCONTROL:
    board.write(static_cast<std::uint16_t>(device.base + 2), *data & platform::kControlOutputs);
    return 0;
  default:
    return -ENOTTY;
  }
}

int control(const char *path, unsigned int command, void *, fuse_file_info *, unsigned int,
            void *data) {
  Device *device = deviceAt(path);
  if (!device) {
    return -ENOENT;
  }
  auto *byte = static_cast<std::uint8_t *>(data);
  const int result = answer(*device, command, byte);
  server().log << path << " ioctl 0x" << std::hex << command << " -> " << std::dec << result;
  if (byte && result == 0) {
    server().log << " byte 0x" << std::hex << static_cast<int>(*byte) << std::dec;
  }
  server().log << '\n';
  return result;
}

// The board's position and lost steps in the words of kdx620ctl on the simulated board.
std::string simLine(const platform::SimBoard &board) {
  char line[128];
  std::snprintf(line, sizeof line, "sim: x=%lld y=%lld z=%lld lost=%u\n",
                static_cast<long long>(board.position(0)),
                static_cast<long long>(board.position(1)),
                static_cast<long long>(board.position(2)), board.lostSteps());
  return line;
}

void writeSummaries(void *) {
  for (const auto &[name, device] : server().devices) {
    const auto file = server().summaries / name.substr(1);
    std::ofstream(file.string() + ".log") << platform::simLogText(*device.board);
    std::ofstream(file.string() + ".summary") << simLine(*device.board);
  }
  server().log.flush();
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"parport_fuse - ppdev device files backed by simulated boards, for the QEMU rig"};
  std::vector<std::string> boards;
  std::string mountPoint;
  std::string summaries;
  app.add_option("--board", boards,
                 "NAME=KDX620_SIM settings (base= among them): one device file NAME per board")
      ->required();
  app.add_option("--summaries", summaries, "folder for NAME.log, NAME.summary and the ioctl log")
      ->required();
  app.add_option("mountpoint", mountPoint, "where to mount")->required();
  CLI11_PARSE(app, argc, argv);

  Server state;
  state.summaries = summaries;
  state.log.open(state.summaries / "ioctl.log");
  for (const auto &boardSetting : boards) {
    const auto equals = boardSetting.find('=');
    const auto config = platform::parseSimConfig(
        equals == std::string::npos ? "" : boardSetting.substr(equals + 1));
    if (const auto *error = std::get_if<std::string>(&config)) {
      std::fprintf(stderr, "parport_fuse: %s\n", error->c_str());
      return 2;
    }
    Device device{std::make_unique<platform::SimBoard>(std::get<platform::SimConfig>(config)), 0};
    device.base = device.board->config().base;
    device.board->enableLog(platform::kSimLogFileEvents);
    state.devices.emplace("/" + boardSetting.substr(0, equals), std::move(device));
  }

  fuse_operations operations{};
  operations.getattr = getAttributes;
  operations.readdir = readFolder;
  operations.open = openFile;
  operations.ioctl = control;
  operations.destroy = writeSummaries;
  // Foreground and single-threaded: one board, one access at a time, as on a real port.
  std::string program = argv[0];
  std::string foreground = "-f";
  std::string singleThreaded = "-s";
  std::vector<char *> fuseArguments = {program.data(), foreground.data(), singleThreaded.data(),
                                       mountPoint.data()};
  return fuse_main(static_cast<int>(fuseArguments.size()), fuseArguments.data(), &operations,
                   &state);
}
