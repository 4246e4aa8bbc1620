// The window as a screen reader finds it: Windows' accessibility interface (MSAA) for the page
// that the window paints itself, names for the controls that have no words of their own, and
// the events that make a screen reader speak what changed.
//
// The page's items are made from the pieces the paint draws (PagePieces), with the shown
// controls put where they stand, so every painted text can be read. Objects are made afresh for
// each WM_GETOBJECT and read the state anew on each question: one kept by a screen reader stays
// true to the page, and one released goes away (access_objects counts those alive).

namespace {

// From oleacc.dll and oleaut32.dll, looked up on first use: oleacc is not one of the DLLs that
// Windows always takes from its own folder, so it is not imported, where it could be planted.
HRESULT(WINAPI* create_std_object)(HWND, LONG, REFIID, void**);
LRESULT(WINAPI* lresult_from_object)(REFIID, WPARAM, LPUNKNOWN);
BSTR(WINAPI* alloc_string)(const OLECHAR*);

int access_objects;  // accessible objects alive

// One thing a screen reader finds on the page. A control answers for itself; the others are
// answered for by the page's object, as its children 1 to N in reading order.
struct Item {
  HWND control;  // null for the page's own items
  LONG role;
  std::wstring name;
  std::wstring value;
  std::wstring description;
  Reading reading;
  RECT box;     // layout units, as the piece's
  HFONT font;   // for measuring the words' extent; null: the box is the extent
  UINT flags;
};

// What the last announcement saw; `announced_page` is -1 before the first.
int announced_page;
std::vector<Item> announced;

// The controls' WM_GETOBJECT answer. A subclass is known by its procedure and this id together;
// "VACC" in ASCII, so that it is told apart from any other subclass of the same controls.
constexpr UINT_PTR kAccessSubclass = 0x56414343;

bool LoadAccess() {
  if (create_std_object && lresult_from_object && alloc_string) return true;
  HMODULE oleacc = SystemLibrary(L"oleacc.dll");
  HMODULE oleaut = SystemLibrary(L"oleaut32.dll");
  bool found = FindCall(oleacc, "CreateStdAccessibleObject", create_std_object);
  found = FindCall(oleacc, "LresultFromObject", lresult_from_object) && found;
  return FindCall(oleaut, "SysAllocString", alloc_string) && found;
}

// --- The page's items ------------------------------------------------------------------------

const wchar_t* StateWord(int state) {
  switch (state) {
    case Running: return L"running";
    case Done: return L"done";
    case Failed: return L"stopped";
  }
  return L"not started";
}

// "1   Your copy of the game" names its field "Your copy of the game".
std::wstring LabelWords(const std::wstring& heading) {
  size_t start = heading.find_first_not_of(L"0123456789");
  if (start != std::wstring::npos) start = heading.find_first_not_of(L' ', start);
  return start == std::wstring::npos ? std::wstring() : heading.substr(start);
}

bool IsShown(HWND control) { return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

// A control's top edge in layout units of the client area.
int TopOf(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return Unscale(r.top);
}

Item PieceItem(const Piece& piece, LONG role) {
  return {nullptr, role, piece.text, std::wstring(), std::wstring(), piece.reading, piece.box, piece.font,
          piece.flags};
}

// A shown control, with the piece it is read before.
struct Shown {
  Item item;
  size_t before;
  bool captioned;  // read where the words beside it stand instead
};

Shown ShownControl(HWND control, const std::vector<Piece>& pieces) {
  Shown shown = {{control, 0, std::wstring(), std::wstring(), std::wstring(), Reading::Said, RECT{}, nullptr, 0},
                 0, false};
  if (control == log_edit) shown.item.name = L"Log";  // nothing is painted for it
  int top = TopOf(control);
  while (shown.before < pieces.size() &&
         !(pieces[shown.before].kind == TextPiece && pieces[shown.before].box.top > top)) {
    ++shown.before;
  }
  for (const Piece& piece : pieces) {
    if (!piece.control || *piece.control != control) continue;
    if (piece.reading == Reading::Labels) shown.item.name = LabelWords(piece.text);
    if (piece.reading == Reading::Captions) shown.item.name = piece.text;
    if (piece.reading == Reading::Describes) shown.item.description = piece.text;
    shown.captioned |= piece.reading == Reading::Captions;
  }
  return shown;
}

// The current page in reading order. A shown control comes before the first text below its
// top, controls of one row in Tab order; a control with words beside it stands where they do.
std::vector<Item> Items() {
  if (!window || !IsWindow(window)) return {};
  SIZE size = ClientSize();
  int width = Unscale(size.cx);
  std::vector<Piece> pieces = PagePieces(width, Unscale(size.cy), Now());
  std::vector<Shown> shown;
  for (const ControlEntry& entry : kControls) {
    if (IsShown(*entry.handle)) shown.push_back(ShownControl(*entry.handle, pieces));
  }
  std::stable_sort(shown.begin(), shown.end(), [](const Shown& a, const Shown& b) { return a.before < b.before; });

  std::vector<Item> items;
  size_t next = 0;
  for (size_t i = 0; i <= pieces.size(); ++i) {
    for (; next < shown.size() && shown[next].before <= i; ++next) {
      if (!shown[next].captioned) items.push_back(shown[next].item);
    }
    if (i == pieces.size() || pieces[i].kind != TextPiece) continue;
    const Piece& piece = pieces[i];
    if (piece.reading == Reading::Captions) {
      for (const Shown& s : shown) {
        if (s.item.control == *piece.control) items.push_back(s.item);
      }
      continue;
    }
    if (piece.text.empty()) continue;  // draws nothing
    switch (piece.reading) {
      case Reading::StepLabel:
        items.push_back(PieceItem(piece, ROLE_SYSTEM_LISTITEM));
        items.back().value = StateWord(piece.state);
        break;
      case Reading::StepTime:
        if (!items.empty()) items.back().description = piece.text;
        break;
      case Reading::Figure:
        // The bar with its percentage below it, as one progress bar.
        items.push_back({nullptr, ROLE_SYSTEM_PROGRESSBAR, std::wstring(), piece.text, std::wstring(),
                         Reading::Figure, BarBox(width), nullptr, 0});
        items.back().box.bottom = piece.box.top + 18;
        break;
      default:
        items.push_back(PieceItem(piece, ROLE_SYSTEM_STATICTEXT));
    }
  }
  return items;
}

// The page's item that a control is, for its name and description; none while it is hidden.
bool ControlItem(HWND control, Item& found) {
  for (Item& item : Items()) {
    if (item.control != control) continue;
    found = std::move(item);
    return true;
  }
  return false;
}

// Where an item stands on the screen, in pixels: a control where its window is, words as far as
// their lines reach.
RECT ScreenBox(const Item& item) {
  RECT box = {Scale(item.box.left), Scale(item.box.top), Scale(item.box.right), Scale(item.box.bottom)};
  if (item.control) {
    GetWindowRect(item.control, &box);
    return box;
  }
  if (item.font) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, item.font);
    RECT measured = box;
    UINT flags = (item.flags & ~(DT_RIGHT | DT_PATH_ELLIPSIS | DT_END_ELLIPSIS)) | DT_CALCRECT;
    DrawTextW(dc, item.name.data(), static_cast<int>(item.name.size()), &measured, flags);
    SelectObject(dc, old);
    DeleteDC(dc);
    LONG width = std::min(measured.right - measured.left, box.right - box.left);
    if (item.flags & DT_RIGHT) box.left = box.right - width;
    box.right = box.left + width;
    box.bottom = measured.bottom;
  }
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

// --- The accessible objects ------------------------------------------------------------------

// A control's object, as the page's child: its own answer to WM_GETOBJECT, or the standard one.
IAccessible* ControlObject(HWND control) {
  IAccessible* object = MakeObject(control);
  if (!object && LoadAccess()) {
    create_std_object(control, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object));
  }
  return object;
}

// A child's own object: a control's; none for a page item, which the page's object answers for.
IAccessible* ChildObject(const Item& item) { return item.control ? ControlObject(item.control) : nullptr; }

HRESULT AnswerText(const std::wstring& text, BSTR* out) {
  *out = text.empty() ? nullptr : alloc_string(text.c_str());
  return *out ? S_OK : S_FALSE;
}

HRESULT AnswerNumber(LONG number, VARIANT* out) {
  out->vt = VT_I4;
  out->lVal = number;
  return S_OK;
}

VARIANT SelfId() {
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  return self;
}

bool IsSelf(const VARIANT& id) { return id.vt == VT_I4 && id.lVal == CHILDID_SELF; }

// Child `child` (1 to N) as a VARIANT: its own object, or its id.
void ChildAnswer(const std::vector<Item>& items, long child, VARIANT* out) {
  if (IAccessible* object = ChildObject(items[child - 1])) {
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
  } else {
    AnswerNumber(child, out);
  }
}

enum Field { NameField, ValueField, DescriptionField };

const std::wstring& FieldOf(const Item& item, Field field) {
  return field == NameField ? item.name : field == ValueField ? item.value : item.description;
}

// One of the page's children 1 to N, with the page's items; false for the page itself and for
// anything that is not a child.
bool Child(const VARIANT& id, std::vector<Item>& items) {
  if (id.vt != VT_I4 || id.lVal == CHILDID_SELF) return false;
  items = Items();
  return id.lVal > 0 && static_cast<size_t>(id.lVal) <= items.size();
}

// What a question gets about an id that names neither the object itself nor one of the page's
// children.
enum Strays { AskStandard, Refuse };

// Who answers a question about `id` put to the object of `of`. On the page's object, about one
// of the page's children: a control's own object, asked `ask` about itself, or `own` for a page
// item. Anything else goes to the standard object, asked `ask` as it was, though `strays` may
// refuse an id that names no child. `given` false: a child's answer has nowhere to go
// (E_POINTER). The page's items are made here, once per question.
template <class Own, class Ask>
HRESULT Route(HWND of, IAccessible* standard, const VARIANT& id, Own own, Ask ask, Strays strays = AskStandard,
              bool given = true) {
  std::vector<Item> items;
  if (of != window || IsSelf(id)) return ask(standard, id);
  if (!Child(id, items)) return strays == Refuse ? E_INVALIDARG : ask(standard, id);
  if (!given) return E_POINTER;
  const Item& item = items[id.lVal - 1];
  if (!item.control) return own(item);
  IAccessible* object = ControlObject(item.control);
  if (!object) return E_FAIL;
  HRESULT result = ask(object, SelfId());
  object->Release();
  return result;
}

using WordsQuery = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);

// A name, value or description: the page's item's, a named control's own, or the standard's.
HRESULT Words(HWND of, IAccessible* standard, VARIANT id, BSTR* out, Field field, WordsQuery ask) {
  if (!out) return E_POINTER;
  *out = nullptr;
  Item own = {};
  if (of != window && IsSelf(id) && field != ValueField && ControlItem(of, own) && !FieldOf(own, field).empty()) {
    return AnswerText(FieldOf(own, field), out);
  }
  return Route(of, standard, id, [&](const Item& item) { return AnswerText(FieldOf(item, field), out); },
               [&](IAccessible* object, VARIANT about) { return (object->*ask)(about, out); });
}

// Help, shortcuts and default actions: the page's own items have none.
HRESULT Plain(HWND of, IAccessible* standard, VARIANT id, BSTR* out, WordsQuery ask) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Route(of, standard, id, [](const Item&) { return S_FALSE; },
               [&](IAccessible* object, VARIANT about) { return (object->*ask)(about, out); }, Refuse);
}

HRESULT Role(HWND of, IAccessible* standard, VARIANT id, VARIANT* out) {
  if (!out) return E_POINTER;
  // A check box, whatever the standard object makes of a button.
  if (of == dlss_check && IsSelf(id)) return AnswerNumber(ROLE_SYSTEM_CHECKBUTTON, out);
  return Route(of, standard, id, [&](const Item& item) { return AnswerNumber(item.role, out); },
               [&](IAccessible* object, VARIANT about) { return object->get_accRole(about, out); });
}

HRESULT State(HWND of, IAccessible* standard, VARIANT id, VARIANT* out) {
  if (!out) return E_POINTER;
  HRESULT result = Route(of, standard, id, [&](const Item&) { return AnswerNumber(STATE_SYSTEM_READONLY, out); },
                         [&](IAccessible* object, VARIANT about) { return object->get_accState(about, out); });
  if (of == dlss_check && IsSelf(id) && SUCCEEDED(result) && out->vt == VT_I4) {
    out->lVal &= ~STATE_SYSTEM_CHECKED;
    if (SendMessageW(dlss_check, BM_GETCHECK, 0, 0) == BST_CHECKED) out->lVal |= STATE_SYSTEM_CHECKED;
  }
  return result;
}

HRESULT Location(HWND of, IAccessible* standard, VARIANT id, long* left, long* top, long* width, long* height) {
  auto own = [&](const Item& item) {
    RECT box = ScreenBox(item);
    *left = box.left;
    *top = box.top;
    *width = box.right - box.left;
    *height = box.bottom - box.top;
    return S_OK;
  };
  auto ask = [&](IAccessible* object, VARIANT about) { return object->accLocation(left, top, width, height, about); };
  return Route(of, standard, id, own, ask, AskStandard, left && top && width && height);
}

// What the page's object alone answers: a child's own object (S_FALSE for a page item), the
// focused child, a move among the children and the child at a point.
HRESULT PageChild(VARIANT id, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<Item> items;
  if (!Child(id, items)) return E_INVALIDARG;
  *out = ChildObject(items[id.lVal - 1]);
  return *out ? S_OK : S_FALSE;
}

HRESULT FocusedChild(VARIANT* out) {
  if (!out) return E_POINTER;
  out->vt = VT_EMPTY;
  HWND focus = GetFocus();
  if (focus == window) {
    *out = SelfId();
    return S_OK;
  }
  std::vector<Item> items = Items();
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].control || items[i].control != focus) continue;
    ChildAnswer(items, static_cast<long>(i + 1), out);
    return S_OK;
  }
  return S_FALSE;
}

// Among the page's children in reading order; from the page itself to its first or last.
HRESULT Navigate(IAccessible* standard, long direction, VARIANT start, VARIANT* out) {
  bool from_self = IsSelf(start) && (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD);
  std::vector<Item> items;
  if (!from_self && !Child(start, items)) return standard->accNavigate(direction, start, out);
  if (!out) return E_POINTER;
  out->vt = VT_EMPTY;
  if (from_self) items = Items();
  long count = static_cast<long>(items.size());
  long to = 0;
  if (direction == NAVDIR_FIRSTCHILD) to = from_self ? 1 : 0;
  if (direction == NAVDIR_LASTCHILD) to = from_self ? count : 0;
  if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT) to = start.lVal + 1;
  if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT) to = start.lVal - 1;
  if (to < 1 || to > count) return S_FALSE;
  ChildAnswer(items, to, out);
  return S_OK;
}

HRESULT ChildAt(IAccessible* standard, long x, long y, VARIANT* out) {
  if (!out) return E_POINTER;
  out->vt = VT_EMPTY;
  POINT point = {x, y};
  std::vector<Item> items = Items();
  for (size_t i = 0; i < items.size(); ++i) {
    RECT box = ScreenBox(items[i]);
    if (!PtInRect(&box, point)) continue;
    ChildAnswer(items, static_cast<long>(i + 1), out);
    return S_OK;
  }
  return standard->accHitTest(x, y, out);
}

// The object of the page (of `window`) or of a named control. What it does not answer itself,
// the system's standard object of the same window answers.
struct AccessObject final : IAccessible, IOleWindow {
  LONG refs = 1;
  HWND hwnd;
  IAccessible* standard;

  AccessObject(HWND of, IAccessible* made) : hwnd(of), standard(made) { ++access_objects; }
  ~AccessObject() {
    standard->Release();
    --access_objects;
  }
  AccessObject(const AccessObject&) = delete;
  AccessObject& operator=(const AccessObject&) = delete;

  bool Page() const { return hwnd == window; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (!out) return E_POINTER;
    if (id == IID_IUnknown || id == IID_IDispatch || id == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
    } else if (id == IID_IOleWindow) {
      *out = static_cast<IOleWindow*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = --refs;
    if (left == 0) delete this;
    return left;
  }

  // IOleWindow, which WindowFromAccessibleObject asks first.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = hwnd;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IDispatch: screen readers call the interface itself; there is no type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override { return standard->get_accParent(out); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!Page()) return standard->get_accChildCount(count);
    if (!count) return E_POINTER;
    *count = static_cast<long>(Items().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT id, IDispatch** out) override {
    return Page() ? PageChild(id, out) : standard->get_accChild(id, out);
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT id, BSTR* out) override {
    return Words(hwnd, standard, id, out, NameField, &IAccessible::get_accName);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT id, BSTR* out) override {
    return Words(hwnd, standard, id, out, ValueField, &IAccessible::get_accValue);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT id, BSTR* out) override {
    return Words(hwnd, standard, id, out, DescriptionField, &IAccessible::get_accDescription);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT id, VARIANT* out) override { return Role(hwnd, standard, id, out); }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT id, VARIANT* out) override { return State(hwnd, standard, id, out); }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT id, BSTR* out) override {
    return Plain(hwnd, standard, id, out, &IAccessible::get_accHelp);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT id, BSTR* out) override {
    return Plain(hwnd, standard, id, out, &IAccessible::get_accKeyboardShortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT id, BSTR* out) override {
    return Plain(hwnd, standard, id, out, &IAccessible::get_accDefaultAction);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT id, long* topic) override {
    return standard->get_accHelpTopic(file, id, topic);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT id) override {
    return Route(hwnd, standard, id, [](const Item&) { return DISP_E_MEMBERNOTFOUND; },
                 [](IAccessible* object, VARIANT about) { return object->accDoDefaultAction(about); }, Refuse);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
    return Page() ? FocusedChild(out) : standard->get_accFocus(out);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override { return standard->get_accSelection(out); }
  HRESULT STDMETHODCALLTYPE accSelect(long how, VARIANT id) override {
    return !Page() || IsSelf(id) ? standard->accSelect(how, id) : DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT id) override {
    return Location(hwnd, standard, id, left, top, width, height);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
    return Page() ? Navigate(standard, direction, start, out) : standard->accNavigate(direction, start, out);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
    return Page() ? ChildAt(standard, x, y, out) : standard->accHitTest(x, y, out);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT id, BSTR value) override {
    return Page() ? DISP_E_MEMBERNOTFOUND : standard->put_accValue(id, value);
  }
};

// The controls that the page names: the two fields, the DLSS box and the log. The buttons
// carry their words as their text, which the standard object reads.
HWND* const kNamedControls[] = {&game_edit, &folder_edit, &dlss_check, &log_edit};

bool NamedByPage(HWND control) {
  for (HWND* named : kNamedControls) {
    if (control && control == *named) return true;
  }
  return false;
}

// A new object of the page or of a named control, with one reference for the caller.
IAccessible* MakeObject(HWND of) {
  if (!of || (of != window && !NamedByPage(of)) || !LoadAccess()) return nullptr;
  IAccessible* standard = nullptr;
  if (FAILED(create_std_object(of, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))) ||
      !standard) {
    return nullptr;
  }
  return new AccessObject(of, standard);
}

// The answer to WM_GETOBJECT for the client area of `of`; 0 where the system's own should do.
LRESULT ObjectAnswer(HWND of, WPARAM wparam, LPARAM lparam) {
  // The object id travels in the low 32 bits; on 64-bit Windows the high half may hold
  // anything, so only a 32-bit signed reading compares right with the negative OBJID_ values.
  if (static_cast<LONG>(static_cast<DWORD>(lparam)) != OBJID_CLIENT) return 0;
  IAccessible* object = MakeObject(of);
  if (!object) return 0;
  LRESULT result = lresult_from_object(__uuidof(IAccessible), wparam, object);
  object->Release();
  return result > 0 ? result : 0;
}

LRESULT OnGetObject(WPARAM wparam, LPARAM lparam) {
  LRESULT result = ObjectAnswer(window, wparam, lparam);
  return result ? result : DefWindowProcW(window, WM_GETOBJECT, wparam, lparam);
}

LRESULT CALLBACK NamedControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  if (message == WM_GETOBJECT) {
    if (LRESULT result = ObjectAnswer(control, wparam, lparam)) return result;
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(control, NamedControlProc, kAccessSubclass);
  }
  return DefSubclassProc(control, message, wparam, lparam);
}

// Once the controls exist: the named ones answer WM_GETOBJECT themselves, so that a screen
// reader that asks the control (as it does when the control takes the focus) hears its name.
void NameControls() {
  for (HWND* named : kNamedControls) SetWindowSubclass(*named, NamedControlProc, kAccessSubclass, 0);
}

// --- Announcements ---------------------------------------------------------------------------

bool SameShape(const std::vector<Item>& a, const std::vector<Item>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].control != b[i].control || a[i].role != b[i].role) return false;
  }
  return true;
}

// Tells screen readers what changed since the last call, and only that: a new page (its items
// reordered, and the heading of a page that a run opens, as an alert), items come or gone, or
// the words, values and descriptions of the items that stayed; clocks are not announced. Called
// when a page opens, after every check of the choices and with each half-second repaint of
// the installing page.
void Announce() {
  if (!window || !game_edit) return;
  std::vector<Item> items = Items();
  bool new_page = announced_page != page;
  bool same = !new_page && SameShape(items, announced);
  if (!same) NotifyWinEvent(EVENT_OBJECT_REORDER, window, OBJID_CLIENT, CHILDID_SELF);
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    LONG child = static_cast<LONG>(i + 1);
    if (new_page && item.reading == Reading::Heading) NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, child);
    if (!same || item.reading == Reading::Clock) continue;
    const Item& was = announced[i];
    HWND of = item.control ? item.control : window;
    LONG id = item.control ? CHILDID_SELF : child;
    if (item.name != was.name) NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, of, OBJID_CLIENT, id);
    if (item.value != was.value) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, of, OBJID_CLIENT, id);
    if (item.description != was.description) NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, of, OBJID_CLIENT, id);
  }
  announced_page = page;
  announced = std::move(items);
}

void SetInitialAccess() {
  create_std_object = nullptr;
  lresult_from_object = nullptr;
  alloc_string = nullptr;
  access_objects = 0;
  announced_page = -1;
  announced.clear();
}

}  // namespace
