// Addresses, address lists, attachments and the login settings of the mail unit.
#include <gtest/gtest.h>

#include <cstdlib>

#include "mail/KtIMailAddr.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

TEST(MailAddress, ParsesEveryDisplayForm) {
  TKtIEMailAddress a;
  a.SetText(u"\"Ann Smith\" <ann@example.com>");
  EXPECT_EQ(a.Name(), u"Ann Smith");
  EXPECT_EQ(a.Address(), u"ann@example.com");

  a.SetText(u"bob@example.com ('Bob Jones')");
  EXPECT_EQ(a.Name(), u"Bob Jones");
  EXPECT_EQ(a.Address(), u"bob@example.com");

  // Nested quotings all go; a quote at one end only stays.
  a.SetText(u"\"'Carl'\" <c@x.org>");
  EXPECT_EQ(a.Name(), u"Carl");
  a.SetText(u"\"Dora <d@x.org>");
  EXPECT_EQ(a.Name(), u"\"Dora");
  a.SetText(u"\" <q@x.org>");
  EXPECT_EQ(a.Name(), u"\"");

  // A bare address is kept exactly, blanks included.
  a.SetText(u"  e@x.org ");
  EXPECT_EQ(a.Address(), u"  e@x.org ");
  EXPECT_EQ(a.Name(), u"");

  // Closing bracket without an opening one: nothing is taken, the earlier values are gone too.
  a.SetText(u"f@x.org>");
  EXPECT_EQ(a.Address(), u"");
  EXPECT_EQ(a.Name(), u"");
  a.SetText(u"g@x.org)");
  EXPECT_EQ(a.Address(), u"");
}

TEST(MailAddress, DisplayTextAndAssign) {
  TKtIEMailAddress a;
  a.SetAddress(u"ann@example.com");
  EXPECT_EQ(a.Text(), u"ann@example.com");
  a.SetName(u"ANN@EXAMPLE.COM");
  EXPECT_EQ(a.Text(), u"ann@example.com");
  a.SetName(u"Ann");
  EXPECT_EQ(a.Text(), u"Ann <ann@example.com>");

  TKtIEMailAddress b;
  b.Assign(&a);
  EXPECT_EQ(b.Text(), u"Ann <ann@example.com>");
  TKtILogin login;
  EXPECT_THROW(b.Assign(&login), EConvertError);
}

TEST(MailAddresses, SplitsAtCommasOutsideTheFirstQuotes) {
  TKtIEMailAddresses list;
  list.SetEMailAddresses(u"\"Smith, Ann\" <ann@x.org>, bob@x.org,, ,c@x.org,");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0)->Name(), u"Smith, Ann");
  EXPECT_EQ(list.Items(0)->Address(), u"ann@x.org");
  EXPECT_EQ(list.Items(1)->Address(), u"bob@x.org");
  EXPECT_EQ(list.Items(2)->Address(), u"c@x.org");
  // The removed quotes do not come back when the list is read.
  EXPECT_EQ(list.EMailAddresses(), u"Smith, Ann <ann@x.org>, bob@x.org, c@x.org");

  // A comma after a second quote does split.
  list.SetEMailAddresses(u"\"A\" \"B, C\" <a@x.org>");
  EXPECT_EQ(list.Count(), 2);
  // Semicolons are no separators; writing replaces the earlier items.
  list.SetEMailAddresses(u"a@x.org; b@x.org");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Address(), u"a@x.org; b@x.org");

  TStringList lines;
  lines.Add(u"first");
  list.SetEMailAddresses(u"Ann <a@x.org>, b@x.org");
  list.FillTStrings(&lines);
  EXPECT_EQ(lines.Text(), u"first\r\nAnn <a@x.org>\r\nb@x.org\r\n");

  TKtIEMailAddresses copy;
  copy.Assign(&list);
  EXPECT_EQ(copy.EMailAddresses(), list.EMailAddresses());
  TKtIEMailAddress replacement;
  replacement.SetText(u"Zed <z@x.org>");
  copy.SetItems(1, &replacement);
  EXPECT_EQ(copy.EMailAddresses(), u"Ann <a@x.org>, Zed <z@x.org>");
  EXPECT_EQ(list.Items(1)->Address(), u"b@x.org");
}

TEST(MailAttachment, NamesTypesAndCopies) {
  test::TempDir dir;
  std::string types = dir.Write("mime.types", "image/png png\napplication/pdf pdf\n");
  ::setenv("KTINET_MIME_TYPES", types.c_str(), 1);

  TKtIEMailAttachments list;
  TKtIEMailAttachment* a = list.Add();
  a->SetFileName(u"/home/ann/photos/Cat.PNG");
  EXPECT_EQ(a->GetAttachmentName(), u"Cat.PNG");
  a->SetFileName(u"C:\\docs\\report.pdf");
  EXPECT_EQ(a->GetAttachmentName(), u"report.pdf");
  a->DetectContentType();
  EXPECT_EQ(a->ContentType(), u"application/pdf");
  a->SetAttachmentName(u"Quarterly.pdf");
  EXPECT_EQ(a->GetAttachmentName(), u"Quarterly.pdf");
  a->SetFileName(u"README");
  a->DetectContentType();
  EXPECT_EQ(a->ContentType(), u"application/octet-stream");
  ::unsetenv("KTINET_MIME_TYPES");

  a->SetEncoding(u"base64");
  TKtIEMailAttachment b;
  b.Assign(a);
  EXPECT_EQ(b.FileName(), u"README");
  EXPECT_EQ(b.AttachmentName(), u"Quarterly.pdf");
  EXPECT_EQ(b.ContentType(), u"application/octet-stream");
  EXPECT_EQ(b.Encoding(), u"base64");

  TKtILogin login, other;
  login.SetUserID(u"u");
  login.SetPassword(u"p");
  login.SetUseLogin(true);
  other.Assign(&login);
  EXPECT_EQ(other.UserID(), u"u");
  EXPECT_EQ(other.Password(), u"p");
  EXPECT_TRUE(other.UseLogin());
  EXPECT_THROW(other.Assign(&b), EConvertError);
}

}  // namespace
}  // namespace ktinet
