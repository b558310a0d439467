#include "mail/KtIMailAddr.h"

#include "core/ktiutil.h"
#include "rtl/SysUtils.h"

namespace ktinet {

// ---- TKtIEMailAddress ----------------------------------------------------------------------

void TKtIEMailAddress::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TKtIEMailAddress*>(Source)) {
    FAddress = other->FAddress;
    FName = other->FName;
    return;
  }
  TCollectionItem::Assign(Source);
}

String TKtIEMailAddress::GetText() const {
  if (FName.empty() || SameText(FName, FAddress)) return FAddress;
  return FName + u" <" + FAddress + u">";
}

void TKtIEMailAddress::SetText(const String& Value) {
  FAddress.clear();
  FName.clear();
  if (!Value.empty() && Value.back() == u'>') {
    size_t lt = Value.find(u'<');
    if (lt != String::npos) {
      FAddress = Trim(Value.substr(lt + 1, Value.size() - 1 - (lt + 1)));
      FName = Trim(Value.substr(0, lt));
    }
  } else if (!Value.empty() && Value.back() == u')') {
    size_t open = Value.find(u'(');
    if (open != String::npos) {
      FName = Trim(Value.substr(open + 1, Value.size() - 1 - (open + 1)));
      FAddress = Trim(Value.substr(0, open));
    }
  } else {
    // A bare address is taken exactly as given, blanks and all.
    FAddress = Value;
  }
  while (FName.size() > 1) {
    Char first = FName.front();
    if ((first == u'"' || first == u'\'') && FName.back() == first) FName = FName.substr(1, FName.size() - 2);
    else break;
  }
}

// ---- TKtIEMailAddresses --------------------------------------------------------------------

String TKtIEMailAddresses::GetEMailAddresses() const {
  String result;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) result += u", ";
    result += Items(i)->Text();
  }
  return result;
}

void TKtIEMailAddresses::SetEMailAddresses(const String& Value) {
  Clear();
  size_t start = 0;
  while (start < Value.size()) {
    size_t end = start;
    int quotes = 0;
    // Only the first quoted stretch of an entry protects its commas; so does a comment in
    // parentheses ("x@y.org (Smith, Jr.)"), nested ones included, outside quotes.
    size_t depth = 0;
    for (; end < Value.size(); ++end) {
      const Char c = Value[end];
      if (c == u'"') ++quotes;
      else if (quotes != 1 && c == u'(') ++depth;
      else if (quotes != 1 && c == u')' && depth > 0) --depth;
      else if (c == u',' && quotes != 1 && depth == 0) break;
    }
    String entry = Trim(Value.substr(start, end - start));
    if (!entry.empty()) Add()->SetText(entry);
    start = end + 1;
  }
}

void TKtIEMailAddresses::FillTStrings(TStrings* List) const {
  for (int i = 0; i < Count(); ++i) List->Add(Items(i)->Text());
}

// ---- TKtIEMailAttachment -------------------------------------------------------------------

void TKtIEMailAttachment::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TKtIEMailAttachment*>(Source)) {
    FAttachmentName = other->FAttachmentName;
    FContentType = other->FContentType;
    FEncoding = other->FEncoding;
    FFileName = other->FFileName;
    return;
  }
  TCollectionItem::Assign(Source);
}

String TKtIEMailAttachment::GetAttachmentName() const {
  if (!FAttachmentName.empty()) return FAttachmentName;
  return FileNamePart();
}

String TKtIEMailAttachment::FileNamePart() const {
  size_t cut = FFileName.find_last_of(u"\\/:");
  return cut == String::npos ? FFileName : FFileName.substr(cut + 1);
}

void TKtIEMailAttachment::DetectContentType() { FContentType = ContentTypeByFile(FFileName); }

// ---- TKtILogin -----------------------------------------------------------------------------

void TKtILogin::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TKtILogin*>(Source)) {
    FUserID = other->FUserID;
    FPassword = other->FPassword;
    FUseLogin = other->FUseLogin;
    return;
  }
  TPersistent::Assign(Source);
}

const TClassInfo* TKtIEMailAddress::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtIEMailAddress>(u"TKtIEMailAddress", nullptr)
      .Property(u"Address", &TKtIEMailAddress::Address, &TKtIEMailAddress::SetAddress)
      .Property(u"Name", &TKtIEMailAddress::Name, &TKtIEMailAddress::SetName)
      .Property(u"Text", &TKtIEMailAddress::Text, &TKtIEMailAddress::SetText)
      .Build();
  return info;
}

const TClassInfo* TKtIEMailAttachment::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtIEMailAttachment>(u"TKtIEMailAttachment", nullptr)
      .Property(u"AttachmentName", &TKtIEMailAttachment::AttachmentName, &TKtIEMailAttachment::SetAttachmentName)
      .Property(u"ContentType", &TKtIEMailAttachment::ContentType, &TKtIEMailAttachment::SetContentType)
      .Property(u"Encoding", &TKtIEMailAttachment::Encoding, &TKtIEMailAttachment::SetEncoding)
      .Property(u"FileName", &TKtIEMailAttachment::FileName, &TKtIEMailAttachment::SetFileName)
      .Build();
  return info;
}

const TClassInfo* TKtILogin::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtILogin>(u"TKtILogin", nullptr)
      .Property(u"UserID", &TKtILogin::UserID, &TKtILogin::SetUserID)
      .Property(u"Password", &TKtILogin::Password, &TKtILogin::SetPassword)
      .Property(u"UseLogin", &TKtILogin::UseLogin, &TKtILogin::SetUseLogin)
      .Build();
  return info;
}

}  // namespace ktinet
