// SPDX-License-Identifier: BSD-2-Clause
// The built module file itself: its manifest section and the symbols it exports.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "module_test_support.h"

namespace {

struct ElfFile {
    std::vector<char> bytes;
    std::vector<Elf64_Shdr> sections;
    const Elf64_Ehdr* header = nullptr;

    explicit ElfFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes.size() < sizeof(Elf64_Ehdr)) return;
        header = reinterpret_cast<const Elf64_Ehdr*>(bytes.data());
        for (int i = 0; i < header->e_shnum; ++i) {
            Elf64_Shdr s;
            const std::size_t at = header->e_shoff + static_cast<std::size_t>(i) * header->e_shentsize;
            if (at + sizeof s > bytes.size()) return;
            std::memcpy(&s, bytes.data() + at, sizeof s);
            sections.push_back(s);
        }
    }

    std::string section_name(const Elf64_Shdr& s) const {
        const Elf64_Shdr& names = sections.at(header->e_shstrndx);
        return std::string(bytes.data() + names.sh_offset + s.sh_name);
    }

    const Elf64_Shdr* find(const std::string& name) const {
        for (const Elf64_Shdr& s : sections) {
            if (section_name(s) == name) return &s;
        }
        return nullptr;
    }

    std::string contents(const Elf64_Shdr& s) const {
        return std::string(bytes.data() + s.sh_offset, s.sh_size);
    }
};

TEST(ModuleFile, ManifestSectionIsNotLoadedAndNamesTheModuleVersion) {
    const ElfFile elf(orvane_test::module_path());
    ASSERT_NE(elf.header, nullptr);
    ASSERT_EQ(std::memcmp(elf.header->e_ident, ELFMAG, SELFMAG), 0);
    ASSERT_EQ(elf.header->e_ident[EI_CLASS], ELFCLASS64);
    const Elf64_Shdr* manifest = elf.find(".pel_manifest");
    ASSERT_NE(manifest, nullptr);
    EXPECT_EQ(manifest->sh_flags & SHF_ALLOC, 0u);
    EXPECT_EQ(manifest->sh_type, static_cast<Elf64_Word>(SHT_PROGBITS));
    EXPECT_EQ(elf.contents(*manifest), "codec_orvane,,19.0_3.1.10\n");
}

TEST(ModuleFile, ExportsOnlyTheEntryPointsAndLeavesHostOperationsUndefined) {
    const ElfFile elf(orvane_test::module_path());
    const Elf64_Shdr* dynsym = elf.find(".dynsym");
    const Elf64_Shdr* dynstr = elf.find(".dynstr");
    ASSERT_NE(dynsym, nullptr);
    ASSERT_NE(dynstr, nullptr);
    std::set<std::string> defined;
    std::set<std::string> undefined;
    for (std::size_t at = 0; at + sizeof(Elf64_Sym) <= dynsym->sh_size; at += sizeof(Elf64_Sym)) {
        Elf64_Sym sym;
        std::memcpy(&sym, elf.bytes.data() + dynsym->sh_offset + at, sizeof sym);
        const std::string name(elf.bytes.data() + dynstr->sh_offset + sym.st_name);
        if (name.empty()) continue;
        if (sym.st_shndx == SHN_UNDEF) {
            undefined.insert(name);
        } else if (ELF64_ST_BIND(sym.st_info) != STB_LOCAL) {
            defined.insert(name);
        }
    }
    EXPECT_EQ(defined, (std::set<std::string>{"load_module", "reload_module", "unload_module"}));
    for (const char* op : {"pel_module_register", "pel_module_unregister", "__pel_register_translator",
                           "pel_unregister_translator", "pel_trans_frameout", "pel_log",
                           "__pel_cli_register_multiple", "pel_cli_unregister_multiple", "pel_cli",
                           "pel_format_slin", "pel_format_g729"}) {
        EXPECT_EQ(undefined.count(op), 1u) << op;
    }
    // The codec is inside the module, not borrowed from whoever loads it.
    for (const std::string& name : undefined) {
        if (name.rfind("pel_", 0) == 0 || name.rfind("__pel_", 0) == 0) continue;
        EXPECT_EQ(name.find("g729"), std::string::npos) << name;
    }
}

}  // namespace
