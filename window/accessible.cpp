// The client area's accessible object. Every call reads the elements that
// the frame last painted recorded (InstallerState.accessItems), so a reader
// gets exactly what is on screen. Calls arrive on the window thread: from
// another process through COM's marshalling into this apartment, whose
// window thread pumps the messages.
#include "window/accessible.h"

#include <oleacc.h>

#include "app/decimal.h"
#include "app/system_dll.h"
#include "app/texts.h"
#include "toolkit/widgets.h"
#include "window/input.h"

namespace {

using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

// oleacc.dll is not a known DLL: loaded on first use, from System32 only.
LresultFromObjectFn LresultFromObjectEntry() {
  static LresultFromObjectFn entry = [] {
    HMODULE oleacc = LoadSystemLibrary(L"oleacc.dll");
    return oleacc ? reinterpret_cast<LresultFromObjectFn>(
                        reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")))
                  : nullptr;
  }();
  return entry;
}

std::wstring WindowTitle(HWND window) {
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  return title;
}

HRESULT ReturnString(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocString(text.c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

class ClientAccessible final : public IAccessible {
 public:
  explicit ClientAccessible(HWND window) : window_(window) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: readers use the IAccessible methods directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!count) return E_POINTER;
    if (!Alive()) return RPC_E_DISCONNECTED;
    *count = static_cast<long>(InstallerState.accessItems.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Every child is a simple element, answered through this object.
    return ItemOf(child) ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (IsSelf(child)) return Alive() ? ReturnString(WindowTitle(window_), name) : RPC_E_DISCONNECTED;
    const AccessItem* item = ItemOf(child);
    return item ? ReturnString(item->name, name) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (IsSelf(child)) return ReturnString(L"", value);
    const AccessItem* item = ItemOf(child);
    return item ? ReturnString(AccessValue(*item), value) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return IsSelf(child) || ItemOf(child) ? ReturnString(L"", text) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    VariantInit(role);
    long value = ROLE_SYSTEM_DIALOG;
    if (!IsSelf(child)) {
      const AccessItem* item = ItemOf(child);
      if (!item) return E_INVALIDARG;
      value = item->role == ButtonRole     ? ROLE_SYSTEM_PUSHBUTTON
              : item->role == CheckRole    ? ROLE_SYSTEM_CHECKBUTTON
              : item->role == ProgressRole ? ROLE_SYSTEM_PROGRESSBAR
                                           : ROLE_SYSTEM_STATICTEXT;
    }
    role->vt = VT_I4;
    role->lVal = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    VariantInit(state);
    if (!Alive()) return RPC_E_DISCONNECTED;
    const bool hasFocus = GetFocus() == window_;
    long value = 0;
    if (IsSelf(child)) {
      value = STATE_SYSTEM_FOCUSABLE |
              (hasFocus && ChildOfWidget(InstallerState.focusId) == 0 ? STATE_SYSTEM_FOCUSED : 0);
    } else {
      const AccessItem* item = ItemOf(child);
      if (!item) return E_INVALIDARG;
      if (item->role == TextRole || item->role == ProgressRole) {
        value = STATE_SYSTEM_READONLY;
      } else {
        value = STATE_SYSTEM_FOCUSABLE;
        if (hasFocus && item->id == InstallerState.focusId) value |= STATE_SYSTEM_FOCUSED;
        if (item->id == InstallerState.hoverId) value |= STATE_SYSTEM_HOTTRACKED;
        if (item->checked) value |= STATE_SYSTEM_CHECKED;
        if (item->isDefault) value |= STATE_SYSTEM_DEFAULT;
      }
    }
    state->vt = VT_I4;
    state->lVal = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override { return ReturnString(L"", help); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    if (IsSelf(child)) return ReturnString(L"", shortcut);
    const AccessItem* item = ItemOf(child);
    return item ? ReturnString(AccessShortcut(*item), shortcut) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    VariantInit(focus);
    if (!Alive()) return RPC_E_DISCONNECTED;
    if (GetFocus() != window_) return S_FALSE;
    focus->vt = VT_I4;
    focus->lVal = ChildOfWidget(InstallerState.focusId);  // CHILDID_SELF (0) when no widget has it
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_POINTER;
    VariantInit(selection);
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (IsSelf(child)) return ReturnString(L"", action);
    const AccessItem* item = ItemOf(child);
    return item ? ReturnString(AccessDefaultAction(*item), action) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    const AccessItem* item = ItemOf(child);
    if (!item || item->id == 0) return E_INVALIDARG;
    if (flags != SELFLAG_TAKEFOCUS) return E_NOTIMPL;
    InstallerState.focusId = item->id;
    InvalidateRect(window_, nullptr, FALSE);
    NotifyFocus(window_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    if (!Alive()) return RPC_E_DISCONNECTED;
    const float s = InstallerState.uiScale;
    Gdiplus::RectF r(0, 0, 780, 470);
    if (!IsSelf(child)) {
      const AccessItem* item = ItemOf(child);
      if (!item) return E_INVALIDARG;
      r = item->rect;
    }
    POINT origin = {static_cast<LONG>(r.X * s), static_cast<LONG>(r.Y * s)};
    ClientToScreen(window_, &origin);
    *left = origin.x;
    *top = origin.y;
    *width = static_cast<LONG>((r.X + r.Width) * s) - static_cast<LONG>(r.X * s);
    *height = static_cast<LONG>((r.Y + r.Height) * s) - static_cast<LONG>(r.Y * s);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    VariantInit(end);
    const long count = static_cast<long>(InstallerState.accessItems.size());
    long target = 0;
    if (IsSelf(start)) {
      if (direction == NAVDIR_FIRSTCHILD) target = 1;
      if (direction == NAVDIR_LASTCHILD) target = count;
    } else {
      if (!ItemOf(start)) return E_INVALIDARG;
      if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) target = start.lVal + 1;
      if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) target = start.lVal - 1;
    }
    if (target < 1 || target > count) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = target;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (!Alive()) return RPC_E_DISCONNECTED;
    POINT p = {x, y};
    ScreenToClient(window_, &p);
    RECT client;
    GetClientRect(window_, &client);
    if (!PtInRect(&client, p)) return S_FALSE;
    const float ux = p.x / InstallerState.uiScale;
    const float uy = p.y / InstallerState.uiScale;
    // The mouse's own hit test first, so both agree on every widget; then
    // the text under the point.
    long found = ChildOfWidget(HitRegionAt(ux, uy));
    for (size_t i = 0; found == 0 && i < InstallerState.accessItems.size(); ++i) {
      const AccessItem& item = InstallerState.accessItems[i];
      if (item.id == 0 && item.rect.Contains(ux, uy)) found = static_cast<long>(i + 1);
    }
    out->vt = VT_I4;
    out->lVal = found;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (!Alive()) return RPC_E_DISCONNECTED;
    const AccessItem* item = ItemOf(child);
    if (!item) return IsSelf(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
    if (AccessDefaultAction(*item).empty()) return DISP_E_MEMBERNOTFOUND;
    // Never inside the caller's call: a click may close the window or open
    // the folder dialog, which must not run inside a reader's request.
    return PostMessageW(window_, kDefaultActionMessage, static_cast<WPARAM>(item->id), 0) ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  bool Alive() const { return IsWindow(window_) != FALSE; }
  static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
  const AccessItem* ItemOf(const VARIANT& child) const {
    if (child.vt != VT_I4 || !Alive()) return nullptr;
    const long index = child.lVal;
    if (index < 1 || index > static_cast<long>(InstallerState.accessItems.size())) return nullptr;
    return &InstallerState.accessItems[static_cast<size_t>(index - 1)];
  }

  HWND window_;
  LONG refs_ = 1;
};

}  // namespace

bool AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (static_cast<LONG>(lParam) != OBJID_CLIENT) return false;
  const LresultFromObjectFn lresultFromObject = LresultFromObjectEntry();
  if (!lresultFromObject) return false;
  ClientAccessible* object = new ClientAccessible(window);
  *result = lresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(object));
  object->Release();
  return true;
}

long ChildOfWidget(int32_t id) {
  if (id == 0) return 0;
  for (size_t i = 0; i < InstallerState.accessItems.size(); ++i)
    if (InstallerState.accessItems[i].id == id) return static_cast<long>(i + 1);
  return 0;
}

std::wstring AccessValue(const AccessItem& item) {
  if (item.role != ProgressRole) return L"";
  return DecimalText(item.percent) + L" %";
}

std::wstring AccessShortcut(const AccessItem& item) {
  if (item.shortcut == 0) return L"";
  return std::wstring(L"Alt+") + item.shortcut;
}

std::wstring AccessDefaultAction(const AccessItem& item) {
  if (item.role == ButtonRole) return kActionPress;
  if (item.role == CheckRole) return item.checked ? kActionUncheck : kActionCheck;
  return L"";
}
