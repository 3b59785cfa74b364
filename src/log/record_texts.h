// Every record the tool writes to its log, defined once: the tool composes them, and the
// report reads them back by the same formats. Formats use %s and %d only; every record ends in
// CR LF. The companion's destination is a fixed text, not looked up.
#pragma once

namespace record_texts {

inline constexpr char16_t kBanner[] =
    u"\n\n================================ %s %s ========================================\r\n";
inline constexpr char16_t kFixedList[] = u"Fixed list [%s]\r\n";
inline constexpr char16_t kDriveExamined[] = u"First found fixed drive letter [%s]\r\n";
inline constexpr char16_t kFlagFound[] = u"Find RP flag in [%s]\r\n";
inline constexpr char16_t kCopyStarted[] = u"Copy [%s] to [%s]\r\n";
inline constexpr char16_t kCopied[] = u"Copy successfully\r\n";
inline constexpr char16_t kCopyFailed[] = u"Copy failed with error code [%d]\r\n";
inline constexpr char16_t kNoFlag[] = u"Cannot finf RP, skip FU copy\r\n";
inline constexpr char16_t kCompanionMissing[] = u"Source file not exists: %s\r\n";
inline constexpr char16_t kCompanionCopy[] = u"%s copy to %s\r\n";
inline constexpr char16_t kCompanionDestination[] = u"c:\\Windows\\QXCUST2.exe";
inline constexpr char16_t kCompanionInstalled[] = u"Copy file successful with return code: %d\r\n";
inline constexpr char16_t kCompanionFailed[] = u"Copy file failed with return code: %d\r\n";
inline constexpr char16_t kPassed[] = u"Result=PASS\r\n";
inline constexpr char16_t kFailed[] = u"Result=FAIL\r\n";

}  // namespace record_texts
