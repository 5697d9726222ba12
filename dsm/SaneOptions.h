#pragma once
// The options of an open SANE device, looked up by name with their type, constraint and state
// respected and read back after setting, and the settings a scan takes through them: resolution,
// scan mode with its depth, scan source (flatbed, feeder, duplex, transparency) and the whole
// scan area.
#include <sane/sane.h>

#include <optional>
#include <string>
#include <vector>

#include "dsm/SaneLibrary.h"
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

// Whether an entry of the scan source option is a feeder (duplex ones not counted) or a duplex
// feeder, going by the words backends name them with.
[[nodiscard]] bool IsFeederEntry(const std::string& entry);
[[nodiscard]] bool IsDuplexEntry(const std::string& entry);

class TSaneOptions {
 public:
  // Options looked at on a device.
  static constexpr SANE_Int kMaxOptions = 1000;

  TSaneOptions(const TSaneLibrary& lib, SANE_Handle handle) : lib_(lib), handle_(handle) {}

  // A string option: its value while active, the entries of its list, and setting it (false when
  // the device refuses or the value does not fit).
  [[nodiscard]] std::optional<std::string> GetString(const char* name) const;
  [[nodiscard]] std::vector<std::string> StringChoices(const char* name) const;
  bool SetString(const char* name, const std::string& value);

  // Sets the resolution of one axis (and the common one); false when the device took neither.
  bool ApplyResolution(bool x, double dpi);
  // The resolution of one axis in effect; 0 when the device does not say.
  [[nodiscard]] double Resolution(bool x) const;
  // Sets the scan mode (and the depth) that gives the pixel type; false when the device has none.
  bool ApplyPixelType(twain::TW_UINT16 pixelType);
  // The entry of the scan source option for that kind of source; none when the device lacks it.
  [[nodiscard]] std::optional<std::string> SourceEntry(bool feeder, bool duplex, bool transmissive) const;
  bool ApplySource(bool feeder, bool duplex, bool transmissive);
  // The device's whole area: the corners at the limits of their ranges.
  void ApplyFullArea();

 private:
  struct Option {
    SANE_Int index;
    const SANE_Option_Descriptor* desc;
  };

  [[nodiscard]] std::optional<Option> Find(const char* name) const;
  [[nodiscard]] static bool Settable(const Option& o);
  [[nodiscard]] std::optional<double> GetNumber(const char* name) const;
  // Sets a number option within its constraint; the value in effect afterwards.
  std::optional<double> SetNumber(const char* name, double value);
  // Whether the depth option offers a value; false when the device has no depth to set.
  [[nodiscard]] bool DepthOffers(int depth) const;
  // Sets the mode and, where the device offers it, the depth that goes with the pixel type.
  bool ApplyBlackAndWhite(const std::vector<std::string>& modes);
  bool ApplyModeWithDepth8(const std::optional<std::string>& mode);

  const TSaneLibrary& lib_;
  SANE_Handle handle_;
};

}  // namespace lumipage::dsm
