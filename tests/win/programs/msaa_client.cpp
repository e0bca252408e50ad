// A small screen-reader stand-in for the accessibility tests: it reads the
// installer window's accessible tree from another process (Active
// Accessibility), listens to the window's events, and drives the window with
// the keyboard alone (SendInput).
//   msaa-client tree SCREEN   waits for SCREEN's tree (install-welcome, progress,
//                             install-done, uninstall-welcome, error), compares it
//                             with the table, hit-tests every child; on
//                             install-welcome also the default actions
//   msaa-client keyboard      Tab to the desktop-shortcut row, Space, Alt+L, Enter,
//                             then waits for Done and checks the events
//   msaa-client press KEY     brings the window to the front and presses KEY
//                             (escape or enter)
// Prints "ok: ..." and "FAIL: ..." lines; exit code 0 when nothing failed.
#include <oleacc.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;
HWND target = nullptr;

void Say(bool good, const std::wstring& what) {
  if (!good) ++failures;
  // UTF-8 on stdout, for the script's log.
  std::string utf8(WideCharToMultiByte(CP_UTF8, 0, what.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, what.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr,
                      nullptr);
  printf("%s: %s\n", good ? "ok" : "FAIL", utf8.c_str());
  fflush(stdout);
}

VARIANT Child(long id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::wstring Take(BSTR s) {
  std::wstring out = s ? s : L"";
  SysFreeString(s);
  return out;
}

struct Element {
  long role = 0;
  long state = 0;
  std::wstring name, value, shortcut;
};

Element Read(IAccessible* acc, long id) {
  Element e;
  VARIANT child = Child(id);
  BSTR s = nullptr;
  if (acc->get_accName(child, &s) == S_OK) e.name = Take(s);
  s = nullptr;
  if (acc->get_accValue(child, &s) == S_OK) e.value = Take(s);
  s = nullptr;
  if (acc->get_accKeyboardShortcut(child, &s) == S_OK) e.shortcut = Take(s);
  VARIANT v;
  VariantInit(&v);
  if (SUCCEEDED(acc->get_accRole(child, &v)) && v.vt == VT_I4) e.role = v.lVal;
  VariantInit(&v);
  if (SUCCEEDED(acc->get_accState(child, &v)) && v.vt == VT_I4) e.state = v.lVal;
  return e;
}

std::vector<Element> ReadTree(IAccessible* acc) {
  std::vector<Element> tree;
  long count = 0;
  if (FAILED(acc->get_accChildCount(&count))) return tree;
  for (long i = 1; i <= count; ++i) tree.push_back(Read(acc, i));
  return tree;
}

// One expected child: role, name (nullptr: any), the states among
// kStateMask, shortcut, value ("#": a percentage), and whether it may be
// absent (a status line not yet set).
constexpr long kStateMask = STATE_SYSTEM_CHECKED | STATE_SYSTEM_DEFAULT | STATE_SYSTEM_READONLY |
                            STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE;
struct Want {
  long role;
  const wchar_t* name;
  long state;
  const wchar_t* shortcut;
  const wchar_t* value;
  bool optional;
};
constexpr long B = ROLE_SYSTEM_PUSHBUTTON, C = ROLE_SYSTEM_CHECKBUTTON, T = ROLE_SYSTEM_STATICTEXT,
               P = ROLE_SYSTEM_PROGRESSBAR;
constexpr long F = STATE_SYSTEM_FOCUSABLE, RO = STATE_SYSTEM_READONLY, CHK = STATE_SYSTEM_CHECKED,
               DEF = STATE_SYSTEM_DEFAULT;

struct Screen {
  const char* key;
  std::vector<Want> want;
};
const Want kMinimize = {B, L"R\u00e9duire", F, L"", L"", false};
const Want kClose = {B, L"Fermer", F, L"", L"", false};
const Screen kScreens[] = {
    {"install-welcome",
     {kMinimize,
      kClose,
      {T, L"Installer Norvale Lockra", RO, L"", L"", false},
      {T, L"Vos mots de passe et codes 2FA, depuis la zone de notification.", RO, L"", L"", false},
      {C, L"Cr\u00e9er un raccourci sur le Bureau", F | CHK, L"Alt+C", L"", false},
      {C, L"Lancer Norvale Lockra \u00e0 la fin", F | CHK, L"Alt+L", L"", false},
      {T, L"C:\\a11y\\one", RO, L"", L"", false},
      {B, L"Modifier", F, L"Alt+M", L"", false},
      {B, L"Installer", F | DEF, L"Alt+I", L"", false},
      {B, L"Annuler", F, L"Alt+A", L"", false}}},
    {"progress",
     {kMinimize,
      {T, L"Installation\u2026", RO, L"", L"", false},
      {T, L"On met tout en place, \u00e7a ne prend qu\u2019un instant.", RO, L"", L"", false},
      {T, nullptr, RO, L"", L"", true},
      {P, L"Progression", RO, L"", L"#", false},
      {T, nullptr, RO, L"", L"", true},
      {T, L"> ne fermez pas cette fen\u00eatre", RO, L"", L"", false}}},
    {"install-done",
     {kMinimize,
      kClose,
      {T, L"C\u2019est pr\u00eat !", RO, L"", L"", false},
      {T, L"Norvale Lockra est install\u00e9.", RO, L"", L"", false},
      {T, L"Bon stream, bonne partie, bon code.", RO, L"", L"", false},
      {B, L"Lancer Norvale Lockra", F | DEF, L"Alt+L", L"", false},
      {B, L"Fermer", F, L"Alt+F", L"", false}}},
    {"uninstall-welcome",
     {kMinimize,
      kClose,
      {T, L"D\u00e9sinstaller Norvale Lockra", RO, L"", L"", false},
      {T, L"Norvale Lockra va \u00eatre retir\u00e9 de ce PC.", RO, L"", L"", false},
      {C, L"Supprimer aussi mes donn\u00e9es (favoris, r\u00e9glages\u2026)", F, L"Alt+S", L"", false},
      {T, L"Sans cette case, vos coffres restent enregistr\u00e9s sur ce PC pour une prochaine installation.",
       RO, L"", L"", false},
      {B, L"D\u00e9sinstaller", F | DEF, L"Alt+D", L"", false},
      {B, L"Annuler", F, L"Alt+A", L"", false}}},
    {"error",
     {kMinimize,
      kClose,
      {T, L"Oups\u2026", RO, L"", L"", false},
      {T, nullptr, RO, L"", L"", false},
      {B, L"R\u00e9essayer", F | DEF, L"Alt+R", L"", false},
      {B, L"Fermer", F, L"Alt+F", L"", false}}},
};

bool IsPercent(const std::wstring& v) {
  if (v.size() < 3 || v.compare(v.size() - 2, 2, L" %") != 0) return false;
  for (size_t i = 0; i + 2 < v.size(); ++i)
    if (v[i] < L'0' || v[i] > L'9') return false;
  const int n = _wtoi(v.c_str());
  return n >= 0 && n <= 100;
}

bool Matches(const Want& w, const Element& e) {
  return e.role == w.role && (w.name == nullptr ? !e.name.empty() : e.name == w.name) &&
         (e.state & kStateMask) == w.state && e.shortcut == w.shortcut &&
         (std::wstring(w.value) == L"#" ? IsPercent(e.value) : e.value == w.value);
}

std::wstring Describe(const Element& e) {
  wchar_t head[64];
  swprintf(head, 64, L"role %ld state 0x%lx ", e.role, e.state & kStateMask);
  return head + (L"\"" + e.name + L"\" [" + e.shortcut + L"] value \"" + e.value + L"\"");
}

// Empty when the tree matches the table, else what differs first.
std::wstring Compare(const std::vector<Want>& want, const std::vector<Element>& tree) {
  size_t i = 0;
  for (const Want& w : want) {
    if (i < tree.size() && Matches(w, tree[i])) {
      ++i;
    } else if (!w.optional) {
      return L"child " + std::to_wstring(i + 1) + L": " +
             (i < tree.size() ? Describe(tree[i]) : std::wstring(L"missing")) + L", expected \"" +
             (w.name ? w.name : L"(any)") + L"\"";
    }
  }
  if (i != tree.size()) return L"more children than expected: " + Describe(tree[i]);
  return L"";
}

void Pump(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

IAccessible* ClientObject() {
  for (int i = 0; i < 200 && !target; ++i) {
    target = FindWindowW(L"NorvaleSetup", nullptr);
    if (!target) Sleep(100);
  }
  if (!target) return nullptr;
  IAccessible* acc = nullptr;
  if (FAILED(AccessibleObjectFromWindow(target, OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&acc))))
    return nullptr;
  return acc;
}

// Waits up to `ms` for the tree of `screen`; the mismatch when it never comes.
std::wstring AwaitScreen(IAccessible* acc, const Screen& screen, DWORD ms) {
  std::wstring diff = L"no tree";
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    diff = Compare(screen.want, ReadTree(acc));
    if (diff.empty()) return diff;
    Pump(50);
  } while (GetTickCount64() < end);
  return diff;
}

// --- events -----------------------------------------------------------------
struct Event {
  DWORD event;
  long child;
  long role;
  std::wstring name, value;
};
std::vector<Event> events;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (hwnd != target || object != OBJID_CLIENT) return;
  // Kept in the order raised: the calls below pump messages, and the next
  // event's callback may run inside them.
  const size_t at = events.size();
  events.push_back(Event{event, child, 0, L"", L""});
  IAccessible* acc = nullptr;
  VARIANT v;
  VariantInit(&v);
  if (SUCCEEDED(AccessibleObjectFromEvent(hwnd, object, child, &acc, &v)) && acc) {
    const Element el = Read(acc, v.lVal);
    events[at].role = el.role;
    events[at].name = el.name;
    events[at].value = el.value;
    acc->Release();
  }
}

HWINEVENTHOOK HookEvents() {
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  return SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, pid, 0, WINEVENT_OUTOFCONTEXT);
}

// --- keyboard -----------------------------------------------------------------
void Keys(std::initializer_list<std::pair<WORD, bool>> strokes) {
  std::vector<INPUT> in;
  for (const auto& [vk, up] : strokes) {
    INPUT i = {};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.push_back(i);
  }
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
  Pump(250);
}
void Press(WORD vk) { Keys({{vk, false}, {vk, true}}); }

void Front() {
  SetForegroundWindow(target);
  SetFocus(target);
  Pump(300);
}

long FindChild(IAccessible* acc, const std::wstring& name) {
  const std::vector<Element> tree = ReadTree(acc);
  for (size_t i = 0; i < tree.size(); ++i)
    if (tree[i].name == name && tree[i].role != T) return static_cast<long>(i + 1);
  return 0;
}

bool Checked(IAccessible* acc, long child) { return (Read(acc, child).state & STATE_SYSTEM_CHECKED) != 0; }

// --- the checks -----------------------------------------------------------------
void CheckHitTests(IAccessible* acc, const char* key) {
  long count = 0;
  acc->get_accChildCount(&count);
  int wrong = 0;
  for (long i = 1; i <= count; ++i) {
    long x, y, w, h;
    VARIANT out;
    VariantInit(&out);
    if (FAILED(acc->accLocation(&x, &y, &w, &h, Child(i))) || w <= 0 || h <= 0 ||
        FAILED(acc->accHitTest(x + w / 2, y + h / 2, &out)) || out.vt != VT_I4 || out.lVal != i) {
      Say(false, L"accHitTest at the centre of child " + std::to_wstring(i) + L" gives " +
                     (out.vt == VT_I4 ? std::to_wstring(out.lVal) : std::wstring(L"nothing")));
      ++wrong;
    }
  }
  if (wrong == 0) Say(true, L"accHitTest at the centre of each child's accLocation gives that child");
  (void)key;
}

void CheckDefaultActions(IAccessible* acc) {
  const long row = FindChild(acc, L"Cr\u00e9er un raccourci sur le Bureau");
  HWINEVENTHOOK hook = HookEvents();
  events.clear();
  const HRESULT hr = acc->accDoDefaultAction(Child(row));
  Pump(600);
  bool stateEvent = false;
  for (const Event& e : events) stateEvent |= e.event == EVENT_OBJECT_STATECHANGE && e.child == row;
  Say(SUCCEEDED(hr) && !Checked(acc, row), L"accDoDefaultAction on the desktop-shortcut row unticks it");
  Say(stateEvent, L"the toggle raised a state-change event for that row");
  acc->accDoDefaultAction(Child(row));
  Pump(600);
  Say(Checked(acc, row), L"a second accDoDefaultAction ticks it again");
  UnhookWinEvent(hook);
  // A text has no action; a child that does not exist is refused.
  Say(FAILED(acc->accDoDefaultAction(Child(3))), L"accDoDefaultAction on a static text fails");
  Say(FAILED(acc->accDoDefaultAction(Child(99))), L"accDoDefaultAction on a missing child fails");
}

int Tree(const char* key) {
  const Screen* screen = nullptr;
  for (const Screen& s : kScreens)
    if (strcmp(s.key, key) == 0) screen = &s;
  if (!screen) return 2;
  IAccessible* acc = ClientObject();
  if (!acc) {
    Say(false, L"no accessible object for the window");
    return 1;
  }
  VARIANT self = Child(CHILDID_SELF), role;
  VariantInit(&role);
  acc->get_accRole(self, &role);
  Say(role.vt == VT_I4 && role.lVal == ROLE_SYSTEM_DIALOG, L"the client area is a dialog");
  const std::wstring diff = AwaitScreen(acc, *screen, 20000);
  std::wstring name(key, key + strlen(key));
  Say(diff.empty(), name + L": roles, names, states, shortcuts and values as in the table" +
                        (diff.empty() ? L"" : L" (" + diff + L")"));
  if (diff.empty()) CheckHitTests(acc, key);
  if (diff.empty() && strcmp(key, "install-welcome") == 0) CheckDefaultActions(acc);
  acc->Release();
  return failures ? 1 : 0;
}

int Keyboard() {
  IAccessible* acc = ClientObject();
  if (!acc || !AwaitScreen(acc, kScreens[0], 20000).empty()) {
    Say(false, L"no install Welcome screen to drive");
    return 1;
  }
  HWINEVENTHOOK hook = HookEvents();
  Front();
  events.clear();
  for (int i = 0; i < 4; ++i) Press(VK_TAB);  // Installer -> Annuler, Réduire, Fermer, the first row
  VARIANT focus;
  VariantInit(&focus);
  acc->get_accFocus(&focus);
  const long row = FindChild(acc, L"Cr\u00e9er un raccourci sur le Bureau");
  Say(focus.vt == VT_I4 && focus.lVal == row, L"four Tabs from Installer reach the desktop-shortcut row");
  Press(VK_SPACE);
  Say(!Checked(acc, row), L"Space unticked it");
  Keys({{VK_MENU, false}, {'L', false}, {'L', true}, {VK_MENU, true}});
  const long launch = FindChild(acc, L"Lancer Norvale Lockra \u00e0 la fin");
  Say(!Checked(acc, launch), L"Alt+L unticked \"Lancer Norvale Lockra \u00e0 la fin\"");
  Press(VK_RETURN);
  const std::wstring diff = AwaitScreen(acc, kScreens[2], 60000);
  Say(diff.empty(),
      L"Enter on the row installed and showed Done" + (diff.empty() ? L"" : L" (" + diff + L")"));
  Pump(500);
  UnhookWinEvent(hook);

  // Focus and state events in the order the keys were pressed.
  std::vector<std::wstring> seen;
  std::vector<int> percents;
  for (const Event& e : events) {
    if (e.event == EVENT_OBJECT_FOCUS) seen.push_back(L"focus " + e.name);
    if (e.event == EVENT_OBJECT_STATECHANGE) seen.push_back(L"state " + e.name);
    if (e.event == EVENT_OBJECT_VALUECHANGE && e.role == P) percents.push_back(_wtoi(e.value.c_str()));
  }
  const std::vector<std::wstring> expected = {L"focus Annuler",
                                              L"focus R\u00e9duire",
                                              L"focus Fermer",
                                              L"focus Cr\u00e9er un raccourci sur le Bureau",
                                              L"state Cr\u00e9er un raccourci sur le Bureau",
                                              L"focus Lancer Norvale Lockra \u00e0 la fin",
                                              L"state Lancer Norvale Lockra \u00e0 la fin"};
  std::wstring got;
  for (const std::wstring& s : seen) got += L" | " + s;
  const bool ordered =
      seen.size() >= expected.size() && std::equal(expected.begin(), expected.end(), seen.begin());
  Say(ordered, L"focus and state events in order:" + got);
  Say(!seen.empty() && seen.back() == L"focus Lancer Norvale Lockra",
      L"the Done screen put the focus on its main button");
  int reorders = 0;
  for (const Event& e : events) reorders += e.event == EVENT_OBJECT_REORDER && e.child == CHILDID_SELF;
  Say(reorders >= 2, L"Progress and Done each raised a reorder event (" + std::to_wstring(reorders) + L")");
  bool up = !percents.empty();
  std::wstring list;
  for (size_t i = 0; i < percents.size(); ++i) {
    list += L" " + std::to_wstring(percents[i]);
    if (i > 0 && percents[i] <= percents[i - 1]) up = false;
  }
  Say(up && percents.back() == 100, L"progress value events go up and reach 100 %:" + list);
  acc->Release();
  return failures ? 1 : 0;
}

// Presses KEY; with "alert", then waits for the alert of an Error screen
// and checks that it reads the reason.
int PressKey(const char* key, const char* then) {
  IAccessible* acc = ClientObject();
  if (!acc) return 1;
  const bool alert = strcmp(then, "alert") == 0;
  HWINEVENTHOOK hook = alert ? HookEvents() : nullptr;
  events.clear();
  Front();
  Press(strcmp(key, "enter") == 0 ? VK_RETURN : VK_ESCAPE);
  if (alert) {
    std::wstring reason;
    for (int i = 0; i < 200 && reason.empty(); ++i) {
      Pump(100);
      for (const Event& e : events)
        if (e.event == EVENT_SYSTEM_ALERT && e.role == T) reason = e.name;
    }
    UnhookWinEvent(hook);
    Say(reason.rfind(L"Impossible", 0) == 0, L"the Error screen raised an alert that reads: " + reason);
  }
  acc->Release();
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int rc = 2;
  if (argc == 3 && strcmp(argv[1], "tree") == 0) {
    rc = Tree(argv[2]);
  } else if (argc == 2 && strcmp(argv[1], "keyboard") == 0) {
    rc = Keyboard();
  } else if ((argc == 3 || argc == 4) && strcmp(argv[1], "press") == 0) {
    rc = PressKey(argv[2], argc == 4 ? argv[3] : "");
  }
  CoUninitialize();
  return rc;
}
