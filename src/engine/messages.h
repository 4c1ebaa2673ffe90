// Every text the engine shows, in UTF-16; "%s" marks where a name goes.
#pragma once

inline constexpr wchar_t kUsageMessage[] = L"Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]";
inline constexpr wchar_t kMakeImageKeyword[] = L"MAKEEXE";

inline constexpr wchar_t kRegistryKeyError[] =
    L"Ошибка при получении ключа %s из Windows registry\r\n";
inline constexpr wchar_t kRegistryReadError[] = L"Ошибка при чтении из Windows registry (%s)\r\n";
inline constexpr wchar_t kProgramNotFound[] =
    L"Оригинальная программа не найдена на вашем компьютере!\r\n";
inline constexpr wchar_t kLevelPrompt[] =
    L"Обнаружено текущее или более позднее обновление!\r\nПродолжить установку?\r\n";
inline constexpr wchar_t kLevelPromptCaption[] = L"!";

inline constexpr wchar_t kUpdatingFile[] = L"Обновляем файл %s....";
inline constexpr wchar_t kFileUpdated[] = L"Обновление успешно завершено!\r\n(%s)\r\n";
inline constexpr wchar_t kFileFailed[] = L"Ошибка в процессе обновления файла!\r\n(%s)\r\n";

inline constexpr wchar_t kCommandsFailed[] = L"Ошибка при исполнении внешних программ!\r\n";
inline constexpr wchar_t kCommandsFailedCaption[] = L"!";
inline constexpr wchar_t kCommandLineFormat[] = L"DUMMY %s";
inline constexpr wchar_t kMarkerFormat[] = L"%skrv_patch_apply_err.txt";

inline constexpr wchar_t kUpdateInstalled[] = L"Обновление успешно установлено!\r\n";
