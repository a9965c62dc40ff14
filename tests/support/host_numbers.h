// Numbers of the host's interface as the tests write them, apart from the
// plug-in's own list: the ordinals of host operations as the stand-in's call
// log names them, and the user's answers a test queues.
#pragma once

#include <cstdint>

inline constexpr int32_t kOpMessage = 52028;
inline constexpr int32_t kOpQuestion = 52029;
inline constexpr int32_t kOpShowText = 52030;
inline constexpr int32_t kOpListDialog = 52026;
inline constexpr int32_t kOpNotice = 52023;
inline constexpr int32_t kOpOpenTable = 52256;
inline constexpr int32_t kOpInterfaceVersion = 51594;
inline constexpr int32_t kOpSaveLines = 52470;
inline constexpr int32_t kOpUpdateLine = 52332;
inline constexpr int32_t kOpProfileValue = 52224;
inline constexpr int32_t kOpAddMenuCommand = 52020;
inline constexpr int32_t kOpRemoveMenuCommand = 52021;
inline constexpr int32_t kOpFindRange = 50516;
inline constexpr int32_t kOpBeginUpdate = 52300;
inline constexpr int32_t kOpEndUpdate = 52302;
inline constexpr int32_t kOpReadAt = 52286;
inline constexpr int32_t kOpWriteAt = 52287;
inline constexpr int32_t kOpCopyText = 52161;
inline constexpr int32_t kOpSelectionEntries = 51521;

inline constexpr int16_t kAnswerEscape = 27;
