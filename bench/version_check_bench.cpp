// Times the comparison run's version check over a whole configuration: every entry of the new
// document read and checked against the stored one, for 1,000 and 10,000 entries. The same
// walk with a plain XPath scan of the stored document per entry is timed beside it, which is
// what the check would cost without the address index.
//
// Usage: bench-version-check [repetitions]   (default 3; the median is printed)

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/content_entry.h"
#include "engine/version_check.h"
#include "os/base/text.h"
#include "os/image/machine.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Configuration(int entries, int version_shift, bool reversed) {
  std::vector<std::string> elements;
  for (int i = 0; i < entries; ++i) {
    elements.push_back("  <content name=\"c" + std::to_string(i) + "\" url=\"http://updates.example/files/f" +
                       std::to_string(i) + ".dll\" ver=\"1." + std::to_string((i + version_shift) % 10) +
                       "\" target=\"{program}\\Vendor\" type=\"reg\" sensitive=\"upgrade\"/>\n");
  }
  if (reversed) std::reverse(elements.begin(), elements.end());
  std::string text = "<?xml version=\"1.0\" encoding=\"EUC-KR\"?>\n<list>\n";
  for (const std::string& e : elements) text += e;
  return text + "</list>\n";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The checked walk over the layer; returns the seconds taken and the entries judged installed.
double TimeLayerWalk(const std::string& stored_path, const std::string& new_path, int* installed) {
  pelisto::IXMLDocumentWrapper stored, fresh;
  stored.Create();
  fresh.Create();
  if (!stored.Load(stored_path) || !fresh.Load(new_path)) {
    std::fprintf(stderr, "load failed: %s\n", (stored.ParseErrorReason() + fresh.ParseErrorReason()).c_str());
    std::exit(1);
  }
  auto start = Clock::now();
  *installed = 0;
  fresh.InitIteration();
  for (pelisto::IXMLNodeWrapper node = fresh.GetNextNode(); !node.IsEmpty(); node = fresh.GetNextNode()) {
    pelisto::ContentEntry entry;
    pelisto::ReadContentEntry(node, &entry);
    *installed += pelisto::CheckVersion(stored, entry.url, entry.ver, node);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same decisions with one XPath query of the stored tree per entry.
double TimeXPathScan(const std::string& stored_text, const std::string& new_text, int* matched) {
  pugi::xml_document stored, fresh;
  stored.load_string(stored_text.c_str());
  fresh.load_string(new_text.c_str());
  auto start = Clock::now();
  *matched = 0;
  for (pugi::xpath_node n : fresh.select_nodes("//content")) {
    std::string query = std::string("//content[@url ='") + n.node().attribute("url").value() + "']";
    pugi::xml_node old = stored.select_node(query.c_str()).node();
    if (old && std::string(old.attribute("ver").value()) >= n.node().attribute("ver").value()) ++*matched;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  namespace fs = std::filesystem;
  std::mt19937_64 rng(std::random_device{}());
  fs::path prefix = fs::temp_directory_path() / ("pelisto-bench-" + std::to_string(rng()));
  std::string error;
  std::unique_ptr<os::Machine> machine = os::Machine::Open(prefix.string(), &error);
  if (!machine) {
    std::fprintf(stderr, "cannot open a machine image: %s\n", error.c_str());
    return 1;
  }
  os::SetCurrentMachine(machine.get());
  os::SetAnsiCodePage(machine->settings().code_page);

  std::printf("version check, whole configuration walked (median of %d runs)\n", repetitions);
  std::printf("%8s  %14s  %16s  %14s  %16s\n", "entries", "indexed s", "indexed entry/s", "XPath scan s",
              "XPath entry/s");
  for (int entries : {1000, 10000}) {
    std::string stored_text = Configuration(entries, 0, false);
    std::string new_text = Configuration(entries, 3, true);
    std::ofstream(prefix / "drive_c" / "old.xml", std::ios::binary) << stored_text;
    std::ofstream(prefix / "drive_c" / "new.xml", std::ios::binary) << new_text;
    std::vector<double> layer, scan;
    int installed = 0, matched = 0;
    for (int r = 0; r < repetitions; ++r) {
      layer.push_back(TimeLayerWalk("C:\\old.xml", "C:\\new.xml", &installed));
      scan.push_back(TimeXPathScan(stored_text, new_text, &matched));
    }
    double l = Median(layer), s = Median(scan);
    std::printf("%8d  %14.4f  %16.0f  %14.4f  %16.0f\n", entries, l, entries / l, s, entries / s);
    if (installed != matched) {
      std::fprintf(stderr, "the two walks disagree: %d against %d\n", installed, matched);
      return 1;
    }
  }
  os::SetCurrentMachine(nullptr);
  machine.reset();
  std::error_code ec;
  fs::remove_all(prefix, ec);
  return 0;
}
