#include "quarrix/probes/vendor_deps.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <set>

#include "hdl_tokens.hpp"
#include "quarrix/hdl/language.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/text.hpp"
#include "source_files.hpp"

namespace quarrix::probes {

namespace {

using detail::ascii_lower;
using detail::Token;
using detail::TokenStream;
using hdl::HdlLanguage;

bool rule_matches(std::string_view subject, std::string_view name, const PrimitiveRule& rule, bool case_sensitive) {
  if (rule.is_prefix ? subject.size() < name.size() : subject.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (case_sensitive ? subject[i] != name[i] : ascii_lower(subject[i]) != ascii_lower(name[i])) return false;
  return true;
}

void scan_verilog(std::string_view text, std::set<std::string>& deps) {
  TokenStream stream(text, HdlLanguage::verilog);
  Token window[3];
  int filled = 0;
  Token token;
  auto check = [&](const Token& name, const Token& second, const Token* third) {
    // "NAME #(", "NAME label (" or "NAME label [": an instance (or an array
    // of instances) of NAME.
    if (!name.word || !(second.text == "#" || (second.word && third && (third->text == "(" || third->text == "["))))
      return;
    if (const PrimitiveRule* rule = find_vendor_primitive(name.text, true)) deps.insert(rule->library);
  };
  while (stream.next(token)) {
    if (filled < 3) {
      window[filled++] = token;
    } else {
      window[0] = window[1];
      window[1] = window[2];
      window[2] = token;
    }
    if (filled == 3) check(window[0], window[1], &window[2]);
  }
  if (filled >= 2) check(window[filled - 2], window[filled - 1], nullptr);
}

void scan_vhdl(std::string_view text, std::set<std::string>& deps) {
  const auto& libraries = vendor_library_names();
  TokenStream stream(text, HdlLanguage::vhdl);
  bool in_library_clause = false;
  Token previous;
  Token token;
  while (stream.next(token)) {
    if (in_library_clause) {
      if (token.text == ";")
        in_library_clause = false;
      else if (token.word && std::any_of(libraries.begin(), libraries.end(), [&](const std::string& library) {
                 return util::ascii_iequals(token.text, library);
               }))
        deps.insert(ascii_lower(token.text));
    } else if (token.word && util::ascii_iequals(token.text, "library")) {
      in_library_clause = true;
    } else if (token.word &&
               (previous.text == ":" || (previous.word && util::ascii_iequals(previous.text, "component")))) {
      if (const PrimitiveRule* rule = find_vendor_primitive(token.text, false)) deps.insert(rule->library);
    }
    previous = token;
  }
}

}  // namespace

const std::vector<std::string>& vendor_library_names() {
  static const std::vector<std::string> names = {
      // AMD/Xilinx
      "unisim", "unimacro", "unifast", "xpm", "secureip", "xilinxcorelib",
      // Intel/Altera
      "altera_mf", "altera_lnsim", "altera", "lpm", "sgate",
      // Lattice
      "ecp5u", "ecp5um", "ecp3", "machxo2", "machxo3l", "machxo3d", "lifcl", "xp2",
      // Microchip/Microsemi
      "smartfusion2", "igloo2", "polarfire", "proasic3", "proasic3e", "proasic3l", "igloo", "fusion", "rtg4"};
  return names;
}

namespace {

// Primitive or macro name (a prefix when marked), and the library it comes from.
constexpr PrimitiveRule kPrimitiveRules[] = {  // AMD/Xilinx macros
    {"xpm_cdc_", true, "xpm"},
    {"xpm_fifo_", true, "xpm"},
    {"xpm_memory_", true, "xpm"},
    {"BRAM_SDP_MACRO", false, "unimacro"},
    {"BRAM_TDP_MACRO", false, "unimacro"},
    {"BRAM_SINGLE_MACRO", false, "unimacro"},
    {"FIFO_DUALCLOCK_MACRO", false, "unimacro"},
    {"FIFO_SYNC_MACRO", false, "unimacro"},
    {"MACC_MACRO", false, "unimacro"},
    {"ADDSUB_MACRO", false, "unimacro"},
    {"MULT_MACRO", false, "unimacro"},
    {"COUNTER_LOAD_MACRO", false, "unimacro"},
    {"COUNTER_TC_MACRO", false, "unimacro"},
    {"EQ_COMPARE_MACRO", false, "unimacro"},
    // AMD/Xilinx primitives
    {"BUFG", true, "unisim"},
    {"BUFH", true, "unisim"},
    {"BUFIO", true, "unisim"},
    {"BUFMR", true, "unisim"},
    {"BUFR", false, "unisim"},
    {"IBUF", false, "unisim"},
    {"IBUFG", true, "unisim"},
    {"IBUFDS", true, "unisim"},
    {"OBUF", false, "unisim"},
    {"OBUFT", true, "unisim"},
    {"OBUFDS", true, "unisim"},
    {"IOBUF", true, "unisim"},
    {"IDDR", false, "unisim"},
    {"ODDR", false, "unisim"},
    {"IDDR2", false, "unisim"},
    {"ODDR2", false, "unisim"},
    {"IDDRE1", false, "unisim"},
    {"ODDRE1", false, "unisim"},
    {"IDDR_2CLK", false, "unisim"},
    {"IDELAYE", true, "unisim"},
    {"ODELAYE", true, "unisim"},
    {"IDELAYCTRL", false, "unisim"},
    {"ISERDESE", true, "unisim"},
    {"OSERDESE", true, "unisim"},
    {"MMCME", true, "unisim"},
    {"PLLE", true, "unisim"},
    {"PLL_ADV", false, "unisim"},
    {"PLL_BASE", false, "unisim"},
    {"DCM_", true, "unisim"},
    {"RAMB", true, "unisim"},
    {"FIFO18E", true, "unisim"},
    {"FIFO36E", true, "unisim"},
    {"RAM32M", false, "unisim"},
    {"RAM64M", false, "unisim"},
    {"RAM32M16", false, "unisim"},
    {"RAM64M8", false, "unisim"},
    {"RAM16X1D", false, "unisim"},
    {"RAM32X1D", false, "unisim"},
    {"RAM64X1D", false, "unisim"},
    {"RAM128X1D", false, "unisim"},
    {"SRL16", false, "unisim"},
    {"SRL16E", false, "unisim"},
    {"SRLC16E", false, "unisim"},
    {"SRLC32E", false, "unisim"},
    {"DSP48", true, "unisim"},
    {"CARRY4", false, "unisim"},
    {"CARRY8", false, "unisim"},
    {"MUXCY", false, "unisim"},
    {"XORCY", false, "unisim"},
    {"MUXF5", false, "unisim"},
    {"MUXF6", false, "unisim"},
    {"MUXF7", false, "unisim"},
    {"MUXF8", false, "unisim"},
    {"MUXF9", false, "unisim"},
    {"LUT1", false, "unisim"},
    {"LUT2", false, "unisim"},
    {"LUT3", false, "unisim"},
    {"LUT4", false, "unisim"},
    {"LUT5", false, "unisim"},
    {"LUT6", false, "unisim"},
    {"LUT6_2", false, "unisim"},
    {"FD", false, "unisim"},
    {"FDC", false, "unisim"},
    {"FDE", false, "unisim"},
    {"FDP", false, "unisim"},
    {"FDR", false, "unisim"},
    {"FDS", false, "unisim"},
    {"FDRE", false, "unisim"},
    {"FDSE", false, "unisim"},
    {"FDCE", false, "unisim"},
    {"FDPE", false, "unisim"},
    {"STARTUPE", true, "unisim"},
    {"ICAPE", true, "unisim"},
    {"BSCANE", true, "unisim"},
    {"DNA_PORT", false, "unisim"},
    {"XADC", false, "unisim"},
    {"SYSMONE", true, "unisim"},
    {"PCIE_2_0", false, "unisim"},
    {"PCIE_2_1", false, "unisim"},
    {"PCIE_3_0", false, "unisim"},
    {"GTPE2_", true, "unisim"},
    {"GTXE2_", true, "unisim"},
    {"GTHE2_", true, "unisim"},
    {"GTHE3_", true, "unisim"},
    {"GTHE4_", true, "unisim"},
    {"GTYE3_", true, "unisim"},
    {"GTYE4_", true, "unisim"},
    // Intel/Altera megafunctions
    {"altsyncram", false, "altera_mf"},
    {"altdpram", false, "altera_mf"},
    {"altpll", false, "altera_mf"},
    {"dcfifo", false, "altera_mf"},
    {"dcfifo_mixed_widths", false, "altera_mf"},
    {"scfifo", false, "altera_mf"},
    {"altshift_taps", false, "altera_mf"},
    {"altddio_in", false, "altera_mf"},
    {"altddio_out", false, "altera_mf"},
    {"altddio_bidir", false, "altera_mf"},
    {"altiobuf_in", false, "altera_mf"},
    {"altiobuf_out", false, "altera_mf"},
    {"altiobuf_bidir", false, "altera_mf"},
    {"altlvds_rx", false, "altera_mf"},
    {"altlvds_tx", false, "altera_mf"},
    {"altclkctrl", false, "altera_mf"},
    {"altmult_add", false, "altera_mf"},
    {"altmult_accum", false, "altera_mf"},
    {"altsqrt", false, "altera_mf"},
    {"altremote_update", false, "altera_mf"},
    {"sld_virtual_jtag", false, "altera_mf"},
    {"altera_std_synchronizer", false, "altera_mf"},
    {"altera_pll", false, "altera_lnsim"},
    {"altera_syncram", false, "altera_lnsim"},
    {"lpm_", true, "lpm"},
    // Lattice
    {"SB_", true, "ice40"},
    {"EHXPLLL", false, "ecp5u"},
    {"DP16KD", false, "ecp5u"},
    {"PDPW16KD", false, "ecp5u"},
    {"DCCA", false, "ecp5u"},
    {"DCSC", false, "ecp5u"},
    {"DCUA", false, "ecp5u"},
    {"EXTREFB", false, "ecp5u"},
    {"IDDRX1F", false, "ecp5u"},
    {"ODDRX1F", false, "ecp5u"},
    {"IDDRX2F", false, "ecp5u"},
    {"ODDRX2F", false, "ecp5u"},
    {"USRMCLK", false, "ecp5u"},
    {"OSCG", false, "ecp5u"},
    {"DELAYF", false, "ecp5u"},
    {"DELAYG", false, "ecp5u"},
    {"CLKDIVF", false, "ecp5u"},
    {"ECLKSYNCB", false, "ecp5u"},
    {"DQSBUFM", false, "ecp5u"},
    {"MULT18X18D", false, "ecp5u"},
    {"ALU54B", false, "ecp5u"},
    {"EHXPLLJ", false, "machxo2"},
    {"DP8KC", false, "machxo2"},
    {"PDPW8KC", false, "machxo2"},
    {"EFB", false, "machxo2"},
    // Gowin
    {"rPLL", false, "gowin"},
    {"PLLVR", false, "gowin"},
    {"DPB", false, "gowin"},
    {"DPX9B", false, "gowin"},
    {"SDPB", false, "gowin"},
    {"SDPX9B", false, "gowin"},
    {"DHCEN", false, "gowin"},
    {"DQCE", false, "gowin"},
    {"OSCZ", false, "gowin"},
    {"ELVDS_OBUF", false, "gowin"},
    {"TLVDS_OBUF", false, "gowin"},
    {"ELVDS_IBUF", false, "gowin"},
    {"TLVDS_IBUF", false, "gowin"},
    {"IDES4", false, "gowin"},
    {"IDES8", false, "gowin"},
    {"IDES10", false, "gowin"},
    {"OSER4", false, "gowin"},
    {"OSER8", false, "gowin"},
    {"OSER10", false, "gowin"},
    // Efinix
    {"EFX_", true, "efinix"}};

}  // namespace

const std::vector<PrimitiveRule>& vendor_primitive_rules() {
  static const std::vector<PrimitiveRule> rules(std::begin(kPrimitiveRules), std::end(kPrimitiveRules));
  return rules;
}

const PrimitiveRule* find_vendor_primitive(std::string_view name, bool case_sensitive) {
  // Most words asked about are signals and keywords. The rules are filed by
  // their first letter, lowered, in their order: only the few that start as
  // the word does are tried, and the first of them that matches is the first
  // rule that matches. The rules' names are measured once.
  struct Index {
    std::array<std::vector<std::size_t>, 256> by_first;
    std::vector<std::string_view> names;
  };
  static const Index index = [] {
    Index out;
    const auto& rules = vendor_primitive_rules();
    for (std::size_t i = 0; i < rules.size(); ++i) {
      out.names.emplace_back(rules[i].name);
      out.by_first[static_cast<unsigned char>(util::ascii_lower(rules[i].name[0]))].push_back(i);
    }
    return out;
  }();
  if (name.empty()) return nullptr;
  const auto& rules = vendor_primitive_rules();
  for (const std::size_t i : index.by_first[static_cast<unsigned char>(util::ascii_lower(name[0]))])
    if (rule_matches(name, index.names[i], rules[i], case_sensitive)) return &rules[i];
  return nullptr;
}

std::vector<std::string> VendorDepsMemo::detect(const std::vector<std::string>& files) {
  std::set<std::string> deps;
  for (const auto& path : files) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) continue;
    const Stamp stamp{st.st_size, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                      st.st_ino};
    std::unique_lock lock(mutex_);
    auto it = by_path_.find(path);
    if (it == by_path_.end() || it->second.first != stamp) {
      lock.unlock();
      auto found = detect_vendor_deps({path});
      lock.lock();
      it = by_path_.insert_or_assign(path, std::make_pair(stamp, std::move(found))).first;
    }
    deps.insert(it->second.second.begin(), it->second.second.end());
  }
  return {deps.begin(), deps.end()};
}

std::vector<std::string> detect_vendor_deps(const std::vector<std::string>& files) {
  std::set<std::string> deps;
  for (const auto& path : detail::sources_with_suffix(files, hdl::kVhdlSuffixes))
    if (const auto text = util::read_text(path)) scan_vhdl(*text, deps);
  for (const auto& path : detail::sources_with_suffix(files, hdl::kVerilogSuffixes))
    if (const auto text = util::read_text(path)) scan_verilog(*text, deps);
  return {deps.begin(), deps.end()};
}

}  // namespace quarrix::probes
