// TWebBrowserHost: the system's WebBrowser control in a child window, with
// the client site, in-place site and frame, document-host handler and event
// sink it needs. The site is a reference-counted COM object: the host holds
// one reference and disconnects the control from it before letting go; a
// reference the control still holds keeps it alive, never dangling.
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ole2.h>

#include <cwchar>
#include <stdexcept>

#include "common/Log.h"
#include "platform/CodePage.h"
#include "platform/win32/ComObjects.h"
#include "platform/win32/Window.h"
#include "ui/WebPage.h"
#include "ui/logic/WebLinks.h"

namespace {

constexpr const char* HostClassName = "TWebBrowserHost";

std::wstring Wide(const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
  if (!text) return {};
  const size_t length = std::wcslen(text);
  return Utf16ToCp936(std::u16string(text, text + length));
}

// A BSTR owned for one call.
class TBstr {
public:
  explicit TBstr(const std::wstring& text) : FText(SysAllocString(text.c_str())) {}
  ~TBstr() { SysFreeString(FText); }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  BSTR Get() const { return FText; }

private:
  BSTR FText;
};

// The text of an event argument: a BSTR, or a VARIANT holding one by reference.
std::string ArgumentText(const VARIANTARG& argument) {
  if (argument.vt == VT_BSTR) return Narrow(argument.bstrVal);
  if (argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal && argument.pvarVal->vt == VT_BSTR)
    return Narrow(argument.pvarVal->bstrVal);
  return {};
}

void SetCancel(VARIANTARG& argument, bool cancel) {
  if (argument.vt == (VT_BYREF | VT_BOOL) && argument.pboolVal) *argument.pboolVal = cancel ? VARIANT_TRUE : VARIANT_FALSE;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CatchAll("web browser host", LRESULT(0), [&]() -> LRESULT {
    if (message == WM_SIZE) {
      // The browser fills its host window.
      auto* object = reinterpret_cast<IOleInPlaceObject*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (object) {
        RECT area = {0, 0, LOWORD(lParam), HIWORD(lParam)};
        object->SetObjectRects(&area, &area);
      }
      return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcA(window, message, wParam, lParam);
  });
}

}  // namespace

// The control's view of its container. One object answers for every
// interface and lives while anyone holds a reference: it starts with its
// creator's and frees itself at the last Release.
class TWebBrowserSite final : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IDocHostUIHandler,
                        public IDispatch {
public:
  TWebBrowserSite(HWND window, TWebBrowserHost::TEvents events) : FWindow(window), FEvents(std::move(events)) {}
  TWebBrowserSite(const TWebBrowserSite&) = delete;
  TWebBrowserSite& operator=(const TWebBrowserSite&) = delete;

  // Creates and in-place activates the control; false (logged) on failure.
  bool Connect();
  // Lets go of the control and forgets the events: a reference the control
  // keeps after this reaches nothing of the host.
  void Disconnect();
  IWebBrowser2* Browser() const { return FBrowser.Get(); }
  IOleInPlaceObject* InPlace() const { return FInPlace.Get(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) *object = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) *object = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) *object = static_cast<IOleInPlaceFrame*>(this);
    else if (iid == IID_IDocHostUIHandler) *object = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) *object = static_cast<IDispatch*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++FReferences; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --FReferences;
    if (left == 0) {
      // A reference taken and given back during the destruction must not
      // free the site a second time.
      FReferences = 1;
      delete this;
    }
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (site and frame)
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = FWindow;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    GetClientRect(FWindow, position);
    GetClientRect(FWindow, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(FWindow, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT area) override {
    if (FInPlace) FInPlace->SetObjectRects(area, area);
    return S_OK;
  }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: no menus, tools or status.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
    return S_OK;  // every kind of menu: the host "showed" it, so none appears
  }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    if (!info) return E_POINTER;
    info->dwFlags = WebHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
  }
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
    *target = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** external) override {
    *external = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    *out = nullptr;
    return S_FALSE;
  }

  // IDispatch: the DWebBrowserEvents2 sink.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
  // Only Release frees the site.
  ~TWebBrowserSite() { Disconnect(); }
  HRESULT HandleEvent(DISPID id, DISPPARAMS* params);

  HWND FWindow;
  TWebBrowserHost::TEvents FEvents;
  ULONG FReferences = 1;
  TComPtr<IWebBrowser2> FBrowser;
  TComPtr<IOleObject> FObject;
  TComPtr<IOleInPlaceObject> FInPlace;
  TComPtr<IConnectionPoint> FEventsPoint;
  DWORD FCookie = 0;
};

bool TWebBrowserSite::Connect() {
  HRESULT result =
      CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, FObject.ReceiveVoid());
  if (FAILED(result) || !FObject) {
    LogError("WebBrowser: control not created (" + std::to_string(static_cast<long>(result)) + ")");
    FObject.Reset();
    return false;
  }
  FObject->SetClientSite(this);
  RECT area;
  GetClientRect(FWindow, &area);
  result = FObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, FWindow, &area);
  if (FAILED(result) || FAILED(FObject->QueryInterface(IID_IWebBrowser2, FBrowser.ReceiveVoid()))) {
    LogError("WebBrowser: control not activated (" + std::to_string(static_cast<long>(result)) + ")");
    Disconnect();
    return false;
  }
  FObject->QueryInterface(IID_IOleInPlaceObject, FInPlace.ReceiveVoid());
  TComPtr<IConnectionPointContainer> container;
  if (SUCCEEDED(FObject->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()))) {
    if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, FEventsPoint.Receive())) &&
        FAILED(FEventsPoint->Advise(static_cast<IDispatch*>(this), &FCookie))) {
      FEventsPoint.Reset();
    }
  }
  if (!FEventsPoint) LogError("WebBrowser: no events");
  // Dialogs of the page (script errors among them) are never shown.
  FBrowser->put_Silent(VARIANT_TRUE);
  return true;
}

void TWebBrowserSite::Disconnect() {
  FEvents = TWebBrowserHost::TEvents();
  if (FEventsPoint) {
    FEventsPoint->Unadvise(FCookie);
    FEventsPoint.Reset();
  }
  if (FInPlace) {
    FInPlace->InPlaceDeactivate();
    FInPlace.Reset();
  }
  FBrowser.Reset();
  if (FObject) {
    FObject->Close(OLECLOSE_NOSAVE);
    FObject->SetClientSite(nullptr);
    FObject.Reset();
  }
}

// The control calls in through COM, which carries no exception: what a
// handler throws is logged here.
STDMETHODIMP TWebBrowserSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  return CatchAll("web browser event", HRESULT(S_OK), [&] { return HandleEvent(id, params); });
}

HRESULT TWebBrowserSite::HandleEvent(DISPID id, DISPPARAMS* params) {
  if (!params) return S_OK;
  // Arguments arrive last one first.
  VARIANTARG* arguments = params->rgvarg;
  const UINT count = params->cArgs;
  switch (id) {
    case DISPID_DOCUMENTCOMPLETE:
      if (FEvents.documentComplete) FEvents.documentComplete();
      break;
    case DISPID_BEFORENAVIGATE2:  // pDisp, URL, Flags, Target, PostData, Headers, Cancel
      if (count == 7 && FEvents.beforeNavigate) SetCancel(arguments[0], FEvents.beforeNavigate(ArgumentText(arguments[5])));
      break;
    case DISPID_NEWWINDOW3:  // ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl
      if (count == 5 && FEvents.newWindow) SetCancel(arguments[3], FEvents.newWindow(ArgumentText(arguments[0])));
      break;
    case DISPID_TITLECHANGE:
      if (count == 1 && FEvents.titleChange) FEvents.titleChange(ArgumentText(arguments[0]));
      break;
    default:
      // WindowSetWidth and WindowSetHeight among others: a page cannot
      // resize its window.
      break;
  }
  return S_OK;
}

TWebBrowserHost::TWebBrowserHost(HWND parent, const TRectI& bounds, TEvents events) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterWindowClass(instance, {HostClassName, HostWindowProc});
  // A child without tab stop: the browser takes no part in keyboard tab order.
  FWindow.Reset(CreateWindowExA(0, HostClassName, "", WS_CHILD | WS_CLIPCHILDREN, bounds.X, bounds.Y, bounds.Width,
                                bounds.Height, parent, nullptr, instance, nullptr));
  if (!FWindow) throw std::runtime_error("CreateWindowEx failed");
  if (!FOle.Ok()) {
    LogError("WebBrowser: OLE not initialised");
    return;
  }
  FSite.Attach(new TWebBrowserSite(FWindow.Get(), std::move(events)));
  if (!FSite->Connect()) {
    FSite.Reset();
    return;
  }
  FWindow.Attach(FSite->InPlace());
}

TWebBrowserHost::~TWebBrowserHost() {
  // The window forgets the control before the site lets go of it.
  FWindow.Attach(nullptr);
  if (FSite) FSite->Disconnect();
  FSite.Reset();
  FWindow.Reset();
}

bool TWebBrowserHost::HasBrowser() const { return FSite && FSite->Browser(); }

IWebBrowser2* TWebBrowserHost::Control() const { return FSite ? FSite->Browser() : nullptr; }

bool TWebBrowserHost::Navigate(const std::string& url) {
  if (!HasBrowser()) return false;
  if (url.find_first_not_of(" \t\r\n") == std::string::npos) return false;
  std::wstring target = Wide(url);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) target = L"file:///" + target;
  const TBstr address(target);
  VARIANT empty;
  VariantInit(&empty);
  return SUCCEEDED(FSite->Browser()->Navigate(address.Get(), &empty, &empty, &empty, &empty));
}

bool TWebBrowserHost::WriteLine(const std::string& text) {
  if (!HasBrowser()) return false;
  TComPtr<IDispatch> document;
  if (FAILED(FSite->Browser()->get_Document(document.Receive())) || !document) return false;
  TComPtr<IHTMLDocument2> html;
  if (FAILED(document->QueryInterface(IID_IHTMLDocument2, html.ReceiveVoid())) || !html) return false;
  bool written = false;
  SAFEARRAY* lines = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (lines) {
    VARIANT* line = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(lines, reinterpret_cast<void**>(&line)))) {
      line->vt = VT_BSTR;
      line->bstrVal = SysAllocString(Wide(text).c_str());
      SafeArrayUnaccessData(lines);
      written = SUCCEEDED(html->writeln(lines));
    }
    SafeArrayDestroy(lines);  // frees the line's BSTR too
  }
  return written;
}

void TWebBrowserHost::SetBounds(const TRectI& bounds) {
  MoveWindow(FWindow.Get(), bounds.X, bounds.Y, bounds.Width, bounds.Height, TRUE);
}

void TWebBrowserHost::SetVisible(bool visible) { ShowWindow(FWindow.Get(), visible ? SW_SHOWNA : SW_HIDE); }

bool TWebBrowserHost::Visible() const { return (GetWindowLongA(FWindow.Get(), GWL_STYLE) & WS_VISIBLE) != 0; }
