// Every text the reporter shows, in English and Chinese. One process-wide
// flag, set at start-up, picks the form.
#pragma once

namespace Faultpost {

struct Text {
  const wchar_t* english;
  const wchar_t* chinese;
};

// True when the user's default language is 2052 or the ANSI code page 936.
void set_chinese_texts(bool chinese);
bool chinese_texts();
inline const wchar_t* text(const Text& t) { return chinese_texts() ? t.chinese : t.english; }

inline constexpr Text kUsage{L"This program is used to send crash report for Drovan plugin when it crashes.",
                             L"本程序用于在Drovan插件崩溃时发送错误报告。"};
inline constexpr Text kNoCrashLog{L"No error report file found, Send failed.", L"没有找到错误报告文件，发送失败！"};
inline constexpr Text kHeadline{
    L"%s has encountered a problem and needs to close. We are sorry for the inconvenience.",
    L"%s 遇到问题需要关闭。我们对此造成的不便深表歉意。"};
inline constexpr Text kAdvice{
    L"Please tell us about this problem to help us diagnose the cause of this error and improve Drovan plugin.",
    L"请将此问题报告给Drovan插件开发者，以帮助我们寻找错误原因，进一步完善程序。"};
inline constexpr Text kPrivacy{
    L"We have created an error report that you can send to us. Please click \"Send Error Report\" below to send "
    L"us the report. We will treat this report as confidential and anonymous.",
    L"我们已经创建了一个错误报告，请点击\"发送错误报告\"将它发送给我们以帮助调试，我们将此报告视为保密和匿名的。"};
inline constexpr Text kDescriptionLabel{L"Describe what you were doing when the error occurred(optional):",
                                        L"请简单描述错误是如何出现的（可选）："};
inline constexpr Text kProgressLabel{L"Transmit Progress:", L"发送进度："};
inline constexpr Text kSend{L"Send Error Report", L"发送错误报告"};
inline constexpr Text kDontSend{L"Don't Send", L"不发送"};
inline constexpr Text kExit{L"Exit", L"退出"};
inline constexpr Text kSuccess{L"Submit Finished. Thank you for your support to Drovan plugin.",
                               L"提交已完成。感谢您对Drovan插件的支持。"};
inline constexpr Text kFailure{L"Connect Fail!!!", L"通讯错误！！！"};
inline constexpr Text kRestart{L"Restart Drovan plugin", L"重新启动Drovan插件"};

inline constexpr Text kUpdateCaption{L"New version available", L"版本更新"};
inline constexpr Text kUpdateMessage{
    L"A new version of Drovan plugin has been released, which may have fixed the problem you encountered. "
    L"The new version can be downloaded from:",
    L"Drovan插件已经发布新版本了，您遇到的软件问题可能已经得到修正。\n您可以到以下网站下载："};
inline constexpr Text kOk{L"OK", L"确定"};

}  // namespace Faultpost
