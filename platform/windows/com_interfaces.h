// The outside components' COM identifiers and interfaces, method by method in table order.
#pragma once

#include "platform/windows/win.h"

namespace aggiorna::windows {

// {438870EE-520F-11D5-BDD5-004033A00C30}
inline constexpr CLSID kClsidComponenteAggiornamento = {
    0x438870EE, 0x520F, 0x11D5, {0xBD, 0xD5, 0x00, 0x40, 0x33, 0xA0, 0x0C, 0x30}};
// {438870ED-520F-11D5-BDD5-004033A00C30}
inline constexpr IID kIidComponenteAggiornamento = {
    0x438870ED, 0x520F, 0x11D5, {0xBD, 0xD5, 0x00, 0x40, 0x33, 0xA0, 0x0C, 0x30}};
// {957766B5-14CE-11D2-95CA-0000B43369D3}
inline constexpr CLSID kClsidDecodificatore = {
    0x957766B5, 0x14CE, 0x11D2, {0x95, 0xCA, 0x00, 0x00, 0xB4, 0x33, 0x69, 0xD3}};
// {957766B4-14CE-11D2-95CA-0000B43369D3}
inline constexpr IID kIidDecodificatore = {
    0x957766B4, 0x14CE, 0x11D2, {0x95, 0xCA, 0x00, 0x00, 0xB4, 0x33, 0x69, 0xD3}};
// {957766AF-14CE-11D2-95CA-0000B43369D3}
inline constexpr CLSID kClsidCifratore = {
    0x957766AF, 0x14CE, 0x11D2, {0x95, 0xCA, 0x00, 0x00, 0xB4, 0x33, 0x69, 0xD3}};
// {957766AE-14CE-11D2-95CA-0000B43369D3}
inline constexpr IID kIidCifratore = {
    0x957766AE, 0x14CE, 0x11D2, {0x95, 0xCA, 0x00, 0x00, 0xB4, 0x33, 0x69, 0xD3}};

// The program calls these through the table of methods, never by name: each method must stay at
// its place after the seven of IUnknown and IDispatch. The Riservato methods are the components'
// methods the program never calls; they only hold their places.
struct IComponenteAggiornamento : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE CompletaAggiornamento(BSTR cartella) = 0;
};

struct IDecodificatore : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Riservato1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decodifica(BSTR testo, BSTR* risultato) = 0;
};

struct ICifratore : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Riservato1() = 0;
    virtual HRESULT STDMETHODCALLTYPE ImpostaChiave(BSTR* chiave) = 0;
    virtual HRESULT STDMETHODCALLTYPE Riservato3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decifra(BSTR* testo, BSTR* risultato) = 0;
};

}  // namespace aggiorna::windows
