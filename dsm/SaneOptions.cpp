#include "dsm/SaneOptions.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace lumipage::dsm {

using namespace twain;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Contains(const std::string& lowered, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(), [&](const char* w) { return lowered.find(w) != std::string::npos; });
}

bool IsTransparencyEntry(const std::string& s) {
  return Contains(Lower(s), {"transparen", "film", "slide", "negative", "positive", "tpu", "tma"});
}
bool IsFlatbedEntry(const std::string& s) { return Contains(Lower(s), {"flatbed", "normal", "platen", "glass"}); }

// The first entry of the list that fits, with exact names before names that contain a word.
std::optional<std::string> PickMode(const std::vector<std::string>& modes, std::initializer_list<const char*> exact,
                                    std::initializer_list<const char*> words,
                                    std::initializer_list<const char*> unwanted) {
  for (const char* e : exact) {
    for (const auto& m : modes) {
      if (strcasecmp(m.c_str(), e) == 0) return m;
    }
  }
  for (const auto& m : modes) {
    std::string l = Lower(m);
    if (Contains(l, words) && !Contains(l, unwanted)) return m;
  }
  return std::nullopt;
}

std::optional<std::string> PickGreyMode(const std::vector<std::string>& modes,
                                        std::initializer_list<const char*> unwanted) {
  return PickMode(modes, {SANE_VALUE_SCAN_MODE_GRAY, "Grey", "Grayscale", "Greyscale"}, {"gray", "grey"}, unwanted);
}

double ToDouble(SANE_Value_Type type, SANE_Word w) { return type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w; }

SANE_Word ToWord(SANE_Value_Type type, double v) {
  return type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
}

// The value a number option with this constraint takes for the one wanted; none when its list
// is empty.
std::optional<double> Constrained(const SANE_Option_Descriptor& d, double wanted) {
  double v = wanted;
  if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range) {
    const SANE_Range& r = *d.constraint.range;
    const double lo = ToDouble(d.type, r.min), hi = ToDouble(d.type, r.max), q = ToDouble(d.type, r.quant);
    v = std::clamp(v, std::min(lo, hi), std::max(lo, hi));
    if (q > 0) {
      // The step nearest the value that is still within the range.
      v = lo + std::round((v - lo) / q) * q;
      if (v > std::max(lo, hi)) v -= q;
    }
  } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
    const SANE_Word* list = d.constraint.word_list;
    const SANE_Word n = std::min<SANE_Word>(list[0], 10000);
    if (n <= 0) return std::nullopt;
    double best = ToDouble(d.type, list[1]);
    for (SANE_Word i = 2; i <= n; ++i) {
      double c = ToDouble(d.type, list[i]);
      if (std::fabs(c - wanted) < std::fabs(best - wanted)) best = c;
    }
    v = best;
  }
  return v;
}

}  // namespace

bool IsDuplexEntry(const std::string& s) { return Contains(Lower(s), {"duplex"}); }
bool IsFeederEntry(const std::string& s) {
  std::string l = Lower(s);
  return !IsDuplexEntry(s) && (Contains(l, {"adf", "feeder", "automatic document", "sheetfed", "sheet fed"}));
}

std::optional<TSaneOptions::Option> TSaneOptions::Find(const char* name) const {
  SANE_Int count = 0;
  if (lib_.ControlOption(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return std::nullopt;
  count = std::min(count, kMaxOptions);
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = lib_.GetOptionDescriptor(handle_, i);
    if (d && d->name && std::strcmp(d->name, name) == 0) return Option{i, d};
  }
  return std::nullopt;
}

bool TSaneOptions::Settable(const Option& o) {
  return SANE_OPTION_IS_ACTIVE(o.desc->cap) && SANE_OPTION_IS_SETTABLE(o.desc->cap);
}

std::optional<double> TSaneOptions::GetNumber(const char* name) const {
  auto o = Find(name);
  if (!o || !SANE_OPTION_IS_ACTIVE(o->desc->cap)) return std::nullopt;
  const SANE_Value_Type type = o->desc->type;
  if ((type != SANE_TYPE_INT && type != SANE_TYPE_FIXED) || o->desc->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
    return std::nullopt;
  // An array option gives its first element.
  std::vector<SANE_Word> value(static_cast<std::size_t>(o->desc->size) / sizeof(SANE_Word) + 1);
  if (lib_.ControlOption(handle_, o->index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return ToDouble(type, value[0]);
}

std::optional<double> TSaneOptions::SetNumber(const char* name, double wanted) {
  auto o = Find(name);
  if (!o || !Settable(*o)) return std::nullopt;
  const SANE_Option_Descriptor& d = *o->desc;
  if ((d.type != SANE_TYPE_INT && d.type != SANE_TYPE_FIXED) || d.size != static_cast<SANE_Int>(sizeof(SANE_Word)))
    return std::nullopt;
  const std::optional<double> v = Constrained(d, wanted);
  if (!v) return std::nullopt;
  SANE_Word word = ToWord(d.type, *v);
  if (lib_.ControlOption(handle_, o->index, SANE_ACTION_SET_VALUE, &word, nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return GetNumber(name);
}

std::vector<std::string> TSaneOptions::StringChoices(const char* name) const {
  std::vector<std::string> out;
  auto o = Find(name);
  if (!o || o->desc->type != SANE_TYPE_STRING || o->desc->constraint_type != SANE_CONSTRAINT_STRING_LIST ||
      !o->desc->constraint.string_list)
    return out;
  for (std::size_t i = 0; o->desc->constraint.string_list[i] && i < 1000; ++i) out.emplace_back(o->desc->constraint.string_list[i]);
  return out;
}

std::optional<std::string> TSaneOptions::GetString(const char* name) const {
  auto o = Find(name);
  if (!o || o->desc->type != SANE_TYPE_STRING || o->desc->size <= 0 || !SANE_OPTION_IS_ACTIVE(o->desc->cap))
    return std::nullopt;
  std::vector<char> buf(static_cast<std::size_t>(o->desc->size) + 1, '\0');
  if (lib_.ControlOption(handle_, o->index, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return std::string(buf.data(), strnlen(buf.data(), buf.size()));
}

bool TSaneOptions::SetString(const char* name, const std::string& value) {
  auto o = Find(name);
  if (!o || !Settable(*o) || o->desc->type != SANE_TYPE_STRING ||
      value.size() + 1 > static_cast<std::size_t>(std::max<SANE_Int>(o->desc->size, 0)))
    return false;
  std::vector<char> buf(static_cast<std::size_t>(o->desc->size), '\0');
  std::memcpy(buf.data(), value.data(), value.size());
  return lib_.ControlOption(handle_, o->index, SANE_ACTION_SET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD;
}

bool TSaneOptions::DepthOffers(int depth) const {
  auto o = Find(SANE_NAME_BIT_DEPTH);
  if (!o || !Settable(*o)) return false;
  const SANE_Option_Descriptor& d = *o->desc;
  if (d.type != SANE_TYPE_INT) return false;
  if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
    const SANE_Word n = std::min<SANE_Word>(d.constraint.word_list[0], 10000);
    for (SANE_Word i = 1; i <= n; ++i) {
      if (d.constraint.word_list[i] == depth) return true;
    }
    return false;
  }
  if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range)
    return d.constraint.range->min <= depth && depth <= d.constraint.range->max;
  return true;
}

bool TSaneOptions::ApplyResolution(bool x, double dpi) {
  const char* own = x ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION;
  bool done = false;
  if (auto o = Find(SANE_NAME_SCAN_RESOLUTION); o && Settable(*o)) done = SetNumber(SANE_NAME_SCAN_RESOLUTION, dpi).has_value();
  // Devices with separate axes take them as well.
  if (auto o = Find(own); o && Settable(*o)) done = SetNumber(own, dpi).has_value() || done;
  return done;
}

double TSaneOptions::Resolution(bool x) const {
  if (auto v = GetNumber(x ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION)) return *v;
  return GetNumber(SANE_NAME_SCAN_RESOLUTION).value_or(0.0);
}

bool TSaneOptions::ApplyPixelType(TW_UINT16 pixelType) {
  const std::vector<std::string> modes = StringChoices(SANE_NAME_SCAN_MODE);
  if (modes.empty()) return false;
  switch (pixelType) {
    case TWPT_BW:
      return ApplyBlackAndWhite(modes);
    case TWPT_GRAY:
      return ApplyModeWithDepth8(PickGreyMode(modes, {"lineart", "halftone"}));
    case TWPT_RGB:
      return ApplyModeWithDepth8(PickMode(modes, {SANE_VALUE_SCAN_MODE_COLOR, "Colour", "RGB", "24bit Color"},
                                          {"color", "colour", "rgb"}, {"lineart", "halftone", "48"}));
    default:
      return false;  // SANE delivers no palette images
  }
}

bool TSaneOptions::ApplyBlackAndWhite(const std::vector<std::string>& modes) {
  if (auto m = PickMode(modes, {SANE_VALUE_SCAN_MODE_LINEART, "Binary", "Black & White", "Black and White"},
                        {"lineart", "binary", "black"}, {"color", "colour"})) {
    return SetString(SANE_NAME_SCAN_MODE, *m);
  }
  // No line-art mode: grey with one bit per pixel is black and white too.
  auto grey = PickGreyMode(modes, {});
  if (!grey || !SetString(SANE_NAME_SCAN_MODE, *grey) || !DepthOffers(1)) return false;
  return SetNumber(SANE_NAME_BIT_DEPTH, 1) == 1.0;
}

bool TSaneOptions::ApplyModeWithDepth8(const std::optional<std::string>& mode) {
  if (!mode || !SetString(SANE_NAME_SCAN_MODE, *mode)) return false;
  if (DepthOffers(8)) (void)SetNumber(SANE_NAME_BIT_DEPTH, 8);
  return true;
}

std::optional<std::string> TSaneOptions::SourceEntry(bool feeder, bool duplex, bool transmissive) const {
  const std::vector<std::string> entries = StringChoices(SANE_NAME_SCAN_SOURCE);
  auto first = [&](auto pred) -> std::optional<std::string> {
    for (const auto& e : entries) {
      if (pred(e)) return e;
    }
    return std::nullopt;
  };
  if (transmissive) return first(IsTransparencyEntry);
  if (feeder) return duplex ? first(IsDuplexEntry) : first(IsFeederEntry);
  if (auto flatbed = first(IsFlatbedEntry)) return flatbed;
  return first([](const std::string& e) { return !IsDuplexEntry(e) && !IsFeederEntry(e) && !IsTransparencyEntry(e); });
}

bool TSaneOptions::ApplySource(bool feeder, bool duplex, bool transmissive) {
  auto entry = SourceEntry(feeder, duplex, transmissive);
  return entry && SetString(SANE_NAME_SCAN_SOURCE, *entry);
}

void TSaneOptions::ApplyFullArea() {
  const char* const corners[] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
  for (int i = 0; i < 4; ++i) {
    const char* name = corners[i];
    auto o = Find(name);
    if (!o || !Settable(*o) || o->desc->constraint_type != SANE_CONSTRAINT_RANGE || !o->desc->constraint.range) continue;
    const bool topLeft = i < 2;
    const SANE_Range& r = *o->desc->constraint.range;
    (void)SetNumber(name, ToDouble(o->desc->type, topLeft ? r.min : r.max));
  }
}

}  // namespace lumipage::dsm
