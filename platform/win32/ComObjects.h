// Owners of COM objects and of the calling thread's OLE session, for every
// part of the shell that hosts or calls COM: each interface pointer has one
// owner that releases it; nothing owning crosses an interface raw.
#pragma once
#include <objbase.h>
#include <ole2.h>

// OleInitialize for the calling thread, OleUninitialize when it succeeded.
class TOleSession {
public:
  TOleSession() : FResult(OleInitialize(nullptr)) {}
  ~TOleSession() {
    if (SUCCEEDED(FResult)) OleUninitialize();
  }
  TOleSession(const TOleSession&) = delete;
  TOleSession& operator=(const TOleSession&) = delete;
  bool Ok() const { return SUCCEEDED(FResult); }

private:
  HRESULT FResult;
};

// One reference to a COM interface.
template <class T>
class TComPtr {
public:
  TComPtr() = default;
  ~TComPtr() { Reset(); }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;

  T* Get() const { return FPointer; }
  T* operator->() const { return FPointer; }
  explicit operator bool() const { return FPointer != nullptr; }
  // Where a creating call puts the new reference; the old one is released.
  T** Receive() {
    Reset();
    return &FPointer;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  // Takes over a reference the caller already holds (a new object's first).
  void Attach(T* pointer) {
    Reset();
    FPointer = pointer;
  }
  void Reset() {
    if (FPointer != nullptr) FPointer->Release();
    FPointer = nullptr;
  }

private:
  T* FPointer = nullptr;
};
