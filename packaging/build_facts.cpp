#include "packaging/build_facts.h"

#include <cstdint>
#include <cstdio>

namespace trv {
namespace pack {

namespace {

// Little-endian reads that refuse to leave the buffer.
class Bytes {
public:
    explicit Bytes(const std::string& bytes) : m_bytes(bytes) {}

    bool U32(std::size_t at, std::uint32_t& value) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 4) return false;
        value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(m_bytes[at + static_cast<std::size_t>(i)]);
        return true;
    }
    bool U16(std::size_t at, std::uint32_t& value) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 2) return false;
        value = static_cast<unsigned char>(m_bytes[at]) |
                static_cast<unsigned>(static_cast<unsigned char>(m_bytes[at + 1])) << 8;
        return true;
    }
    bool Guid(std::size_t at, std::string& text) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 16) return false;
        const auto b = [&](std::size_t i) { return static_cast<unsigned char>(m_bytes[at + i]); };
        char buffer[40];
        std::snprintf(buffer, sizeof buffer,
                      "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b(3),
                      b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13),
                      b(14), b(15));
        text = buffer;
        return true;
    }

private:
    const std::string& m_bytes;
};

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedInfoLayout = 0x00010000;

std::string VersionText(std::uint32_t ms, std::uint32_t ls) {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

// MSFT layout: a header of 21 words, a word more when the library names a
// help DLL, one offset word per type description, then fifteen segment
// descriptors of four words (type descriptions first, GUIDs sixth).
constexpr std::uint32_t kMsftMagic = 0x5446534D;  // "MSFT"
constexpr std::size_t kHeaderWords = 21;
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr std::size_t kTypeInfoSegment = 0;
constexpr std::size_t kGuidSegment = 5;
constexpr std::uint32_t kCoclass = 5;

}  // namespace

bool ModuleVersion(const std::string& module, std::string& version, std::string& error) {
    const Bytes bytes(module);
    std::string found;
    for (std::size_t at = 0; at + 52 <= module.size(); at += 4) {
        std::uint32_t signature = 0, layout = 0;
        if (!bytes.U32(at, signature) || signature != kFixedInfoSignature) continue;
        if (!bytes.U32(at + 4, layout) || layout != kFixedInfoLayout) continue;
        std::uint32_t fileMs = 0, fileLs = 0, productMs = 0, productLs = 0;
        bytes.U32(at + 8, fileMs);
        bytes.U32(at + 12, fileLs);
        bytes.U32(at + 16, productMs);
        bytes.U32(at + 20, productLs);
        if (fileMs != productMs || fileLs != productLs) {
            error = "file version " + VersionText(fileMs, fileLs) + " and product version " +
                    VersionText(productMs, productLs) + " differ";
            return false;
        }
        if (!found.empty()) {
            error = "more than one version record";
            return false;
        }
        found = VersionText(fileMs, fileLs);
    }
    if (found.empty()) {
        error = "no version record";
        return false;
    }
    version = found;
    return true;
}

bool ModuleResource(const std::string& module, unsigned type, unsigned id, std::string& data,
                    std::string& error) {
    const Bytes bytes(module);
    std::uint32_t pe = 0, sections = 0, optionalSize = 0, magic = 0;
    if (!bytes.U32(0x3C, pe) || !bytes.U16(pe + 6, sections) || !bytes.U16(pe + 20, optionalSize) ||
        !bytes.U16(pe + 24, magic) || (magic != 0x10B && magic != 0x20B)) {
        error = "not a PE file";
        return false;
    }
    // The resource directory's RVA (data directory 2), and the file offset of an RVA.
    std::uint32_t root = 0;
    bytes.U32(pe + 24 + (magic == 0x10B ? 96 : 112) + 2 * 8, root);
    const auto offsetOf = [&](std::uint32_t rva, std::size_t& at) {
        for (std::uint32_t i = 0; i < sections; ++i) {
            const std::size_t header = pe + 24 + optionalSize + 40 * std::size_t{i};
            std::uint32_t size = 0, start = 0, raw = 0;
            if (!bytes.U32(header + 8, size) || !bytes.U32(header + 12, start) ||
                !bytes.U32(header + 20, raw))
                return false;
            if (rva >= start && rva - start < size) {
                at = std::size_t{raw} + (rva - start);
                return true;
            }
        }
        return false;
    };
    std::size_t base = 0;
    if (!root || !offsetOf(root, base)) {
        error = "no resources";
        return false;
    }
    // Three levels: type, ID, language (the first). An entry's offset counts
    // from the root; its high bit marks a directory, which only the first two
    // levels hold.
    std::uint32_t entry = 0;
    const unsigned path[3] = {type, id, 0};
    for (int level = 0; level < 3; ++level) {
        std::uint32_t named = 0, numbered = 0, key = 0, found = 0;
        bytes.U16(base + entry + 12, named);
        bytes.U16(base + entry + 14, numbered);
        for (std::uint32_t i = 0; i < named + numbered && !found; ++i) {
            const std::size_t at = base + entry + 16 + 8 * std::size_t{i};
            if (bytes.U32(at, key) && (level == 2 || key == path[level])) bytes.U32(at + 4, found);
        }
        if (!found || (found >> 31) != (level < 2 ? 1u : 0u)) {
            error = "no resource " + std::to_string(type) + "/" + std::to_string(id);
            return false;
        }
        entry = found & 0x7FFFFFFF;
    }
    std::uint32_t rva = 0, size = 0;
    std::size_t at = 0;
    if (!bytes.U32(base + entry, rva) || !bytes.U32(base + entry + 4, size) || !offsetOf(rva, at) ||
        at > module.size() || module.size() - at < size) {
        error = "resource data outside the file";
        return false;
    }
    data = module.substr(at, size);
    return true;
}

bool ReadTypeLibrary(const std::string& library, TypeLibraryFacts& facts, std::string& error) {
    const Bytes bytes(library);
    std::uint32_t magic = 0, posGuid = 0, lcid = 0, varFlags = 0, version = 0, typeInfos = 0;
    if (!bytes.U32(0, magic) || magic != kMsftMagic) {
        error = "not an MSFT type library";
        return false;
    }
    bytes.U32(8, posGuid);
    bytes.U32(16, lcid);  // the library's own locale; the word before is its strings'
    bytes.U32(20, varFlags);
    bytes.U32(24, version);
    bytes.U32(32, typeInfos);
    if (typeInfos > 0xFFFF) {
        error = "implausible type count";
        return false;
    }
    const std::size_t offsets = 4 * (kHeaderWords + ((varFlags & kHelpDllFlag) ? 1 : 0));
    const std::size_t segments = offsets + 4 * static_cast<std::size_t>(typeInfos);
    std::uint32_t typeInfoBase = 0, guidBase = 0;
    if (!bytes.U32(segments + 16 * kTypeInfoSegment, typeInfoBase) ||
        !bytes.U32(segments + 16 * kGuidSegment, guidBase)) {
        error = "truncated segment directory";
        return false;
    }
    TypeLibraryFacts read;
    read.lcid = lcid;
    read.major = version & 0xFFFF;
    read.minor = version >> 16;
    read.syskind = varFlags & 0xF;
    if (!bytes.Guid(std::size_t{guidBase} + posGuid, read.libid)) {
        error = "library GUID outside the file";
        return false;
    }
    for (std::uint32_t i = 0; i < typeInfos; ++i) {
        std::uint32_t offset = 0, kind = 0, typeGuid = 0;
        const std::size_t info = std::size_t{typeInfoBase};
        if (!bytes.U32(offsets + 4 * std::size_t{i}, offset) || !bytes.U32(info + offset, kind) ||
            !bytes.U32(info + offset + 0x2C, typeGuid)) {
            error = "type description outside the file";
            return false;
        }
        if ((kind & 0xF) != kCoclass) continue;
        std::string clsid;
        if (!bytes.Guid(std::size_t{guidBase} + typeGuid, clsid)) {
            error = "class GUID outside the file";
            return false;
        }
        read.coclasses.push_back(clsid);
    }
    facts = read;
    return true;
}

}  // namespace pack
}  // namespace trv
