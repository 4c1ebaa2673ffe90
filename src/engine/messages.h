// Every text the engine shows. The sources are UTF-8 and are compiled with
// the Windows-1251 execution character set, so these are the bytes the
// platform receives.
#pragma once

inline constexpr char kUsageMessage[] = "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]";
inline constexpr char kMakeImageKeyword[] = "MAKEEXE";

inline constexpr char kRegistryKeyError[] = "Ошибка при получении ключа %s из Windows registry\r\n";
inline constexpr char kRegistryReadError[] = "Ошибка при чтении из Windows registry (%s)\r\n";
inline constexpr char kProgramNotFound[] =
    "Оригинальная программа не найдена на вашем компьютере!\r\n";
inline constexpr char kLevelPrompt[] =
    "Обнаружено текущее или более позднее обновление!\r\nПродолжить установку?\r\n";
inline constexpr char kLevelPromptCaption[] = "!";

inline constexpr char kUpdatingFile[] = "Обновляем файл %s....";
inline constexpr char kFileUpdated[] = "Обновление успешно завершено!\r\n(%s)\r\n";
inline constexpr char kFileFailed[] = "Ошибка в процессе обновления файла!\r\n(%s)\r\n";

inline constexpr char kCommandsFailed[] = "Ошибка при исполнении внешних программ!\r\n";
inline constexpr char kCommandsFailedCaption[] = "!";
inline constexpr char kCommandLineFormat[] = "DUMMY %s";
inline constexpr char kMarkerFormat[] = "%skrv_patch_apply_err.txt";

inline constexpr char kUpdateInstalled[] = "Обновление успешно установлено!\r\n";
