// Boxes of another process through Win32 alone: EnumWindows, the dialog's controls and messages.
#include "boxes.h"

#include "system_state.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace kit {
namespace {

constexpr UINT kMessageMs = 2000;

std::wstring class_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The text of a window of another process, asked of that window (WM_GETTEXT).
std::wstring text_of(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageMs, &length)) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kMessageMs, &got)) {
        return {};
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

struct Search {
    DWORD process_id;
    const std::set<HWND>* seen;
    HWND found = nullptr;
};

BOOL CALLBACK find_box(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window) || class_of(window) != L"#32770" ||
        search->seen->count(window) != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

BOOL CALLBACK find_icon(HWND child, LPARAM data) {
    if (class_of(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(data) = child;
        return FALSE;
    }
    return TRUE;
}

// The header of a 32-bit bitmap of `width` by `height` pixels, top row first.
BITMAPINFOHEADER header_of(int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    return header;
}

// A 32-bit bitmap of `width` by `height` pixels, top row first, filled with `background`: what
// `paint(dc, screen)` draws on it.
template <typename Paint>
std::vector<std::uint32_t> pixels(int width, int height, COLORREF background, Paint&& paint) {
    BITMAPINFO info = {};
    info.bmiHeader = header_of(width, height);
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<std::uint32_t> out;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        HBRUSH brush = CreateSolidBrush(background);
        RECT all = {0, 0, width, height};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        paint(dc, screen);
        GdiFlush();
        const auto* p = static_cast<const std::uint32_t*>(bits);
        out.assign(p, p + static_cast<std::size_t>(width) * height);
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return out;
}

std::vector<std::uint32_t> drawn(HICON icon, int size, COLORREF background) {
    return pixels(size, size, background,
                  [&](HDC dc, HDC) { DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL); });
}

bool uniform(const std::vector<std::uint32_t>& image) {
    for (std::uint32_t p : image) {
        if ((p & 0xFFFFFF) != (image.front() & 0xFFFFFF)) return false;
    }
    return true;
}

long long distance(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) return std::numeric_limits<long long>::max();
    long long sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
        }
    }
    return sum;
}

// The system icon that the box's icon looks most like. Its handle differs from the runner's, so
// pixels are compared: the icon drawn through its handle where Windows shares icon handles between
// processes, else what the screen shows of the icon's control (as under Wine), against each
// system icon drawn on that control's background.
Icon icon_of(HWND box) {
    HWND control = nullptr;
    EnumChildWindows(box, find_icon, reinterpret_cast<LPARAM>(&control));
    if (control == nullptr) return Icon::none;
    DWORD_PTR handle = 0;
    if (!SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageMs, &handle) || handle == 0) {
        return Icon::none;
    }
    RECT r = {};
    GetWindowRect(control, &r);
    const int size = std::max(1, std::min<int>(r.right - r.left, r.bottom - r.top));
    COLORREF background = RGB(255, 255, 255);
    std::vector<std::uint32_t> shown = drawn(reinterpret_cast<HICON>(handle), size, background);
    if (uniform(shown)) {
        shown = pixels(size, size, background, [&](HDC dc, HDC screen) {
            BitBlt(dc, 0, 0, size, size, screen, r.left, r.top, SRCCOPY);
        });
        if (shown.empty()) return Icon::none;
        const std::uint32_t corner = shown.front();
        background = RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF);
    }
    const std::pair<Icon, LPCWSTR> candidates[] = {
        {Icon::error, IDI_ERROR}, {Icon::information, IDI_INFORMATION}, {Icon::warning, IDI_WARNING},
        {Icon::question, IDI_QUESTION}};
    Icon best = Icon::none;
    long long best_distance = std::numeric_limits<long long>::max();
    for (const auto& [icon, id] : candidates) {
        const long long d = distance(shown, drawn(LoadIconW(nullptr, id), size, background));
        if (d < best_distance) {
            best_distance = d;
            best = icon;
        }
    }
    return best;
}

ShownBox read_box(HWND box) {
    ShownBox shown;
    shown.window = box;
    shown.caption = text_of(box);
    if (HWND text = GetDlgItem(box, 0xFFFF)) shown.text = text_of(text);
    shown.icon = icon_of(box);
    const auto visible = [box](int id) {
        HWND button = GetDlgItem(box, id);
        return button != nullptr && IsWindowVisible(button);
    };
    shown.has_ok = visible(IDOK);
    shown.has_cancel = visible(IDCANCEL);
    DWORD_PTR id = 0;
    if (SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kMessageMs, &id) && HIWORD(id) == DC_HASDEFID) {
        shown.default_button = LOWORD(id);
    }
    shown.foreground = GetForegroundWindow() == box;
    return shown;
}

}  // namespace

std::optional<ShownBox> wait_for_box(DWORD process_id, HANDLE process, const std::set<HWND>& seen, DWORD ms) {
    const ULONGLONG give_up = GetTickCount64() + ms;
    for (;;) {
        Search search{process_id, &seen};
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            // Give the box a moment to be filled in and brought forward.
            Sleep(200);
            ShownBox shown = read_box(search.found);
            if (!shown.text.empty() || GetTickCount64() >= give_up) return shown;
        } else if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || GetTickCount64() >= give_up) {
            return std::nullopt;
        }
        Sleep(50);
    }
}

bool answer_box(HWND box, int id, DWORD ms) {
    HWND button = GetDlgItem(box, id);
    if (button == nullptr) return false;
    DWORD_PTR unused = 0;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kMessageMs, &unused);
    const ULONGLONG give_up = GetTickCount64() + ms;
    bool nudged = false;
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount64() >= give_up) return false;
        // A click that reached a box not yet active can be lost: the button's command instead.
        if (!nudged && GetTickCount64() + ms / 2 >= give_up) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            nudged = true;
        }
        Sleep(50);
    }
    return true;
}

bool save_picture(HWND window, const std::wstring& file) {
    RECT r = {};
    if (!GetWindowRect(window, &r)) return false;
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    auto shown = pixels(width, height, RGB(0, 0, 0), [&](HDC dc, HDC screen) {
        BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    });
    if (shown.empty()) return false;
    // Opaque: BitBlt leaves the fourth byte 0, which readers of 32-bit files take as transparent.
    for (std::uint32_t& p : shown) p |= 0xFF000000u;
    const BITMAPINFOHEADER info = header_of(width, height);
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(shown.size() * 4);
    Bytes picture(reinterpret_cast<const char*>(&header), sizeof header);
    picture.append(reinterpret_cast<const char*>(&info), sizeof info);
    picture.append(reinterpret_cast<const char*>(shown.data()), shown.size() * 4);
    return write_file(file, picture);
}

std::string icon_name(Icon icon) {
    switch (icon) {
        case Icon::error: return "stop";
        case Icon::information: return "information";
        case Icon::warning: return "warning";
        case Icon::question: return "question";
        default: return "none";
    }
}

}  // namespace kit
