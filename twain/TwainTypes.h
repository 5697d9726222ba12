#pragma once
// The TWAIN protocol 1.5 structures and constants this program and its source manager exchange,
// with the standard's numeric values and the standard header's layout: structures packed on
// 2-byte boundaries, strings as 34-byte zero-terminated arrays. Handles and memory references
// are native pointers.
#include <cstdint>

namespace lumipage::twain {

using TW_INT16 = std::int16_t;
using TW_UINT16 = std::uint16_t;
using TW_INT32 = std::int32_t;
using TW_UINT32 = std::uint32_t;
using TW_BOOL = std::uint16_t;
using TW_MEMREF = void*;
using TW_HANDLE = void*;
using TW_STR32 = char[34];
using TW_STR255 = char[256];

#pragma pack(push, 2)

struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};

struct TW_VERSION {
  TW_UINT16 MajorNum;
  TW_UINT16 MinorNum;
  TW_UINT16 Language;
  TW_UINT16 Country;
  TW_STR32 Info;
};

struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor;
  TW_UINT16 ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer;
  TW_STR32 ProductFamily;
  TW_STR32 ProductName;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};

// The text of a status (TWAIN 2): the application fills Status; the source answers with a global
// block of Size bytes of zero-terminated UTF-8, which the application frees.
struct TW_STATUSUTF8 {
  TW_STATUS Status;
  TW_UINT32 Size;
  TW_HANDLE UTF8string;
};

struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 Reserved;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth;
  TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};

// lumipage's own source manager (DAT_LP_DEVICE): a device name as the driver layer writes it,
// and the identity of the source that drives that device.
struct TW_LP_DEVICE {
  TW_STR255 DeviceName;
  TW_IDENTITY Source;
};

#pragma pack(pop)

static_assert(sizeof(TW_FIX32) == 4);
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(sizeof(TW_ONEVALUE) == 6);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_IMAGEINFO) == 42);

// The source manager's one entry point.
using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                                   TW_UINT16 msg, TW_MEMREF data);

// Data groups.
constexpr TW_UINT32 DG_CONTROL = 0x0001;
constexpr TW_UINT32 DG_IMAGE = 0x0002;

// Data argument types.
constexpr TW_UINT16 DAT_NULL = 0x0000;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
constexpr TW_UINT16 DAT_EVENT = 0x0002;
constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
constexpr TW_UINT16 DAT_PARENT = 0x0004;
constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
constexpr TW_UINT16 DAT_STATUS = 0x0008;
constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
constexpr TW_UINT16 DAT_STATUSUTF8 = 0x0026;
constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 DAT_CUSTOMBASE = 0x8000;
// lumipage's own source manager: DG_CONTROL / DAT_LP_DEVICE / MSG_GET fills Source with the
// identity of the source that drives the SANE device named DeviceName ("test:0",
// "fujitsu:fi-7160:1234"): a listed one, else one listed after looking for devices anew, else a
// source made for that name when SANE may know it (a network scanner left out of a local
// discovery). TWCC_NODS when there is none; other source managers refuse the triplet.
constexpr TW_UINT16 DAT_LP_DEVICE = DAT_CUSTOMBASE + 0x4C01;

// Messages.
constexpr TW_UINT16 MSG_NULL = 0x0000;
constexpr TW_UINT16 MSG_GET = 0x0001;
constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
constexpr TW_UINT16 MSG_SET = 0x0006;
constexpr TW_UINT16 MSG_RESET = 0x0007;
constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
constexpr TW_UINT16 MSG_OPENDS = 0x0401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 MSG_CUSTOMBASE = 0x8000;

// lumipage's own source manager: DG_CONTROL / DAT_IDENTITY / MSG_LP_REFRESHLIST looks for devices
// anew instead of using its device list cache, when the list in use came from that cache; the
// application then lists the sources again. Other source managers refuse the message, which
// changes nothing.
constexpr TW_UINT16 MSG_LP_REFRESHLIST = MSG_CUSTOMBASE + 0x4C01;

// Return codes.
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

// Condition codes.
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_BADVALUE = 10;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
constexpr TW_UINT16 TWCC_BADDEST = 12;
constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
constexpr TW_UINT16 TWCC_CAPBADOPERATION = 14;
constexpr TW_UINT16 TWCC_CAPSEQERROR = 15;
// TWAIN 2 condition codes for paper and device trouble.
constexpr TW_UINT16 TWCC_DENIED = 16;
constexpr TW_UINT16 TWCC_PAPERJAM = 20;
constexpr TW_UINT16 TWCC_PAPERDOUBLEFEED = 21;
constexpr TW_UINT16 TWCC_CHECKDEVICEONLINE = 23;
constexpr TW_UINT16 TWCC_INTERLOCK = 24;
constexpr TW_UINT16 TWCC_NOMEDIA = 29;

// Capabilities.
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
constexpr TW_UINT16 ICAP_UNITS = 0x0102;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
constexpr TW_UINT16 CAP_AUTOFEED = 0x1007;
constexpr TW_UINT16 CAP_INDICATORS = 0x100B;
constexpr TW_UINT16 CAP_DUPLEXENABLED = 0x1013;
constexpr TW_UINT16 CAP_FEEDERORDER = 0x102E;
constexpr TW_UINT16 ICAP_LIGHTPATH = 0x111E;
constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
constexpr TW_UINT16 ICAP_BITDEPTH = 0x112B;
constexpr TW_UINT16 CAP_CUSTOMBASE = 0x8000;
// Custom capabilities of lumipage's own sources, TWTY_UINT16 seconds (0 to 3600, 0: off); other
// sources refuse them and behave as with 0.
// An empty feeder at the first page is tried again every half second for this long.
constexpr TW_UINT16 CAP_LP_WAITFORPAPER = CAP_CUSTOMBASE + 0x4C01;
// A busy device (or a lamp warming up) at the start of a page is tried again for this long.
constexpr TW_UINT16 CAP_LP_RETRYBUSY = CAP_CUSTOMBASE + 0x4C02;

// Containers and item types.
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWTY_INT8 = 0;
constexpr TW_UINT16 TWTY_INT16 = 1;
constexpr TW_UINT16 TWTY_INT32 = 2;
constexpr TW_UINT16 TWTY_UINT8 = 3;
constexpr TW_UINT16 TWTY_UINT16 = 4;
constexpr TW_UINT16 TWTY_UINT32 = 5;
constexpr TW_UINT16 TWTY_BOOL = 6;
constexpr TW_UINT16 TWTY_FIX32 = 7;

// Capability values.
constexpr TW_UINT16 TWPT_BW = 0;
constexpr TW_UINT16 TWPT_GRAY = 1;
constexpr TW_UINT16 TWPT_RGB = 2;
constexpr TW_UINT16 TWPT_PALETTE = 3;
constexpr TW_UINT16 TWSX_NATIVE = 0;
constexpr TW_UINT16 TWUN_INCHES = 0;
constexpr TW_UINT16 TWFO_FIRSTPAGEFIRST = 0;
constexpr TW_UINT16 TWLP_REFLECTIVE = 0;
constexpr TW_UINT16 TWLP_TRANSMISSIVE = 1;

// The number a TW_FIX32 stands for: the whole part and the fraction in 1/65536.
[[nodiscard]] constexpr double Fix32Value(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }

// Supported groups and languages of an identity.
constexpr TW_UINT32 DG_SUPPORTED = DG_CONTROL | DG_IMAGE;
constexpr TW_UINT16 TWLG_ENGLISH = 2;
constexpr TW_UINT16 TWCY_USA = 1;

// The window message the source manager posts to the application's parent window for a source's
// notification (wParam: the TWAIN message, lParam: the source's identity Id). Only the source
// manager interprets it, through MSG_PROCESSEVENT.
constexpr std::uint32_t kDsmNotifyMessage = 0x0400 + 0x5457;  // WM_USER + "TW"

// The source manager library's file name in the system folder.
constexpr const char* kDsmLibraryName = "libtwain_32.so";  // as platform::kSourceManagerFileName

}  // namespace lumipage::twain
