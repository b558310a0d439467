// The parts of an outgoing message that the SMTP sender publishes as nested properties: single
// addresses, address lists, attachments and the server login. Included by mail/KtISMTP.h.
#pragma once

#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

// One mailbox: the bare address and an optional display name. Used in a TKtIEMailAddresses or
// on its own (the sender's From has no collection).
class TKtIEMailAddress : public TCollectionItem {
  KTINET_PUBLISHED(TKtIEMailAddress)
 public:
  explicit TKtIEMailAddress(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  // Copies Address and Name from another TKtIEMailAddress; other sources raise EConvertError.
  void Assign(const TPersistent* Source) override;

  const String& Address() const { return FAddress; }
  void SetAddress(const String& Value) { FAddress = Value; }
  const String& Name() const { return FName; }
  void SetName(const String& Value) { FName = Value; }
  // "Name <address>", or the address alone when there is no name or the name is the address.
  String Text() const { return GetText(); }
  // Parses "Name <address>", "address (Name)" or a bare address (kept exactly as given);
  // surrounding quotes of the name, nested ones too, are removed.
  void SetText(const String& Value);

 protected:
  String GetText() const;

 private:
  String FAddress;
  String FName;
};

class TKtIEMailAddresses : public TCollectionOf<TKtIEMailAddress> {
 public:
  // KtIControl is the owning component, reported as the collection's owner.
  explicit TKtIEMailAddresses(TPersistent* KtIControl = nullptr) : FKtIControl(KtIControl) {}
  TPersistent* KtIControl() const { return FKtIControl; }

  // Writing an item assigns it into place.
  void SetItems(int Index, const TKtIEMailAddress* Value) { Items(Index)->Assign(Value); }
  // The display texts of all items joined by ", ".
  String EMailAddresses() const { return GetEMailAddresses(); }
  // Replaces the items by the entries of a comma-separated text; a comma inside the first
  // double-quoted stretch of an entry, or inside parentheses, does not split it.
  void SetEMailAddresses(const String& Value);
  // Appends the display text of every item to List (which is not cleared first).
  void FillTStrings(TStrings* List) const;

 protected:
  String GetEMailAddresses() const;
  TPersistent* GetOwner() const override { return FKtIControl; }

 private:
  TPersistent* FKtIControl;
};

class TKtIEMailAttachment : public TCollectionItem {
  KTINET_PUBLISHED(TKtIEMailAttachment)
 public:
  explicit TKtIEMailAttachment(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  // Copies all four fields from another TKtIEMailAttachment; other sources raise EConvertError.
  void Assign(const TPersistent* Source) override;

  // The name announced to the receiver; may be empty (GetAttachmentName then uses FileName's).
  const String& AttachmentName() const { return FAttachmentName; }
  void SetAttachmentName(const String& Value) { FAttachmentName = Value; }
  const String& ContentType() const { return FContentType; }
  void SetContentType(const String& Value) { FContentType = Value; }
  // The part's transfer encoding: "base64" (or empty, meaning base64), "quoted-printable",
  // "7bit" or "8bit".
  const String& Encoding() const { return FEncoding; }
  void SetEncoding(const String& Value) { FEncoding = Value; }
  const String& FileName() const { return FFileName; }
  void SetFileName(const String& Value) { FFileName = Value; }

  // AttachmentName, or else the last element of FileName (after the last '\', '/' or ':').
  String GetAttachmentName() const;
  // The last element of FileName alone: the name a recipient sees, never the sender's folders.
  String FileNamePart() const;
  // ContentType := the type the system registers for FileName's extension.
  void DetectContentType();

 private:
  String FAttachmentName;
  String FContentType;
  String FEncoding;
  String FFileName;
};

class TKtIEMailAttachments : public TCollectionOf<TKtIEMailAttachment> {
 public:
  explicit TKtIEMailAttachments(TPersistent* KtIControl = nullptr) : FKtIControl(KtIControl) {}
  TPersistent* KtIControl() const { return FKtIControl; }
  void SetItems(int Index, const TKtIEMailAttachment* Value) { Items(Index)->Assign(Value); }

 protected:
  TPersistent* GetOwner() const override { return FKtIControl; }

 private:
  TPersistent* FKtIControl;
};

// The mail server's login.
class TKtILogin : public TPersistent {
  KTINET_PUBLISHED(TKtILogin)
 public:
  // Copies UserID, Password and UseLogin from another TKtILogin; other sources raise.
  void Assign(const TPersistent* Source) override;

  const String& UserID() const { return FUserID; }
  void SetUserID(const String& Value) { FUserID = Value; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& Value) { FPassword = Value; }
  bool UseLogin() const { return FUseLogin; }
  void SetUseLogin(bool Value) { FUseLogin = Value; }

 private:
  String FUserID;
  String FPassword;
  bool FUseLogin = false;
};

}  // namespace ktinet
