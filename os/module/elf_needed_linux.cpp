#include <elf.h>
#include <link.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "os/base/error.h"
#include "os/module/elf_needed.h"

namespace os {
namespace {
using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);

constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeData =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;

// Bounds-checked reads of one file: nothing in the file is trusted.
class FileReader {
 public:
  explicit FileReader(std::ifstream& in, std::uint64_t size) : in_(in), size_(size) {}
  bool Read(std::uint64_t offset, void* out, std::uint64_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(length));
    return static_cast<std::uint64_t>(in_.gcount()) == length;
  }

 private:
  std::ifstream& in_;
  std::uint64_t size_;
};

// The machine the running program was built for, read from its own header once.
int NativeMachine() {
  static const int machine = [] {
    Ehdr eh{};
    std::ifstream self("/proc/self/exe", std::ios::binary);
    self.read(reinterpret_cast<char*>(&eh), sizeof eh);
    return self ? static_cast<int>(eh.e_machine) : -1;
  }();
  return machine;
}

// The file offset of virtual address `addr`, through the loadable segments.
bool AddressToOffset(const std::vector<Phdr>& phdrs, std::uint64_t addr, std::uint64_t* offset) {
  for (const Phdr& p : phdrs) {
    if (p.p_type == PT_LOAD && addr >= p.p_vaddr && addr - p.p_vaddr < p.p_filesz) {
      *offset = addr - p.p_vaddr + p.p_offset;
      return true;
    }
  }
  return false;
}
}  // namespace

DWORD ReadElfNeeded(const std::string& host_path, std::vector<std::string>* needed) {
  errno = 0;
  std::ifstream in(host_path, std::ios::binary | std::ios::ate);
  if (!in) return Win32ErrorFromErrno(errno != 0 ? errno : EACCES);
  const auto end = in.tellg();
  if (end < 0) return ERROR_BAD_EXE_FORMAT;
  FileReader file(in, static_cast<std::uint64_t>(end));

  Ehdr eh;
  if (!file.Read(0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != kNativeClass || eh.e_ident[EI_DATA] != kNativeData ||
      eh.e_type != ET_DYN || eh.e_phentsize != sizeof(Phdr) ||
      (NativeMachine() >= 0 && eh.e_machine != NativeMachine())) {
    return ERROR_BAD_EXE_FORMAT;
  }
  std::vector<Phdr> phdrs(eh.e_phnum);
  if (!phdrs.empty() && !file.Read(eh.e_phoff, phdrs.data(), sizeof(Phdr) * phdrs.size())) {
    return ERROR_BAD_EXE_FORMAT;
  }

  std::vector<std::string> names;
  for (const Phdr& p : phdrs) {
    if (p.p_type != PT_DYNAMIC) continue;
    std::vector<Dyn> dyn(p.p_filesz / sizeof(Dyn));
    if (!dyn.empty() && !file.Read(p.p_offset, dyn.data(), sizeof(Dyn) * dyn.size())) {
      return ERROR_BAD_EXE_FORMAT;
    }
    std::uint64_t strtab = 0, strsz = 0;
    std::vector<std::uint64_t> name_offsets;
    for (const Dyn& d : dyn) {
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_NEEDED) name_offsets.push_back(d.d_un.d_val);
      if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
      if (d.d_tag == DT_STRSZ) strsz = d.d_un.d_val;
    }
    if (name_offsets.empty()) break;
    std::uint64_t strtab_offset;
    if (strsz == 0 || !AddressToOffset(phdrs, strtab, &strtab_offset)) return ERROR_BAD_EXE_FORMAT;
    std::string table(strsz, '\0');
    if (!file.Read(strtab_offset, table.data(), strsz)) return ERROR_BAD_EXE_FORMAT;
    for (std::uint64_t off : name_offsets) {
      if (off >= strsz) return ERROR_BAD_EXE_FORMAT;
      size_t nul = table.find('\0', off);
      if (nul == std::string::npos) return ERROR_BAD_EXE_FORMAT;
      names.push_back(table.substr(off, nul - off));
    }
    break;
  }
  *needed = std::move(names);
  return ERROR_SUCCESS;
}

}  // namespace os
