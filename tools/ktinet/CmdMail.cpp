// `ktinet mail`: TKtISMTP from the command line.
#include <iostream>

#include "Cli.h"
#include "Secrets.h"
#include "Files.h"
#include "Json.h"
#include "Output.h"
#include "SocketOptions.h"
#include "core/ktiutil.h"
#include "mail/KtISMTP.h"
#include "rtl/Exceptions.h"

namespace ktinet::cli {

namespace {

bool IsAscii(const String& s) {
  for (Char c : s)
    if (c > 0x7F) return false;
  return true;
}

int RunMail(const Args& args) {
  args.ExpectPositional(0, 0);
  auto server = args.Get("--server");
  auto from = args.Get("--from");
  auto to = args.Get("--to");
  if (!server || !from || !to) throw UsageError("--server, --from and --to are required");
  if (args.Has("--body") && args.Has("--body-file")) throw UsageError("give --body or --body-file, not both");
  if (!args.Has("--user") && (args.Has("--password") || args.Has("--password-file")))
    throw UsageError("a password needs --user");

  TKtISMTP smtp(nullptr);
  std::string tls = args.GetOr("--tls", "none");
  if (tls == "none") smtp.SetUseTLS(utNone);
  else if (tls == "starttls") smtp.SetUseTLS(utStartTLS);
  else if (tls == "implicit") smtp.SetUseTLS(utImplicit);
  else throw UsageError("--tls wants none, starttls or implicit, not '" + tls + "'");

  std::string host = *server;
  // SMTPS has its own port; the others use the mail port of the server's role.
  int port = smtp.UseTLS() == utImplicit ? 465 : smtp.UseTLS() == utStartTLS ? 587 : 25;
  if (host.find(':') != std::string::npos) SplitHostPort(*server, "--server", host, port);
  smtp.SetHost(UTF8ToString(host));
  smtp.SetPort(port);
  ApplySocketOptions(args, smtp);
  if (auto ca = args.Get("--cacert")) smtp.SetCACertFile(UTF8ToString(*ca));
  smtp.SetIgnoreCertificateErrors(args.Has("--insecure"));

  smtp.From()->SetText(UTF8ToString(*from));
  smtp.Recipients()->SetEMailAddresses(UTF8ToString(*to));
  smtp.CC()->SetEMailAddresses(UTF8ToString(args.GetOr("--cc", "")));
  smtp.BCC()->SetEMailAddresses(UTF8ToString(args.GetOr("--bcc", "")));
  smtp.ReplyTo()->SetEMailAddresses(UTF8ToString(args.GetOr("--reply-to", "")));
  smtp.SetSubject(UTF8ToString(args.GetOr("--subject", "")));
  if (auto body = args.Get("--body")) smtp.Body()->SetText(UTF8ToString(Unescape(*body)));
  if (auto file = args.Get("--body-file")) smtp.Body()->SetText(UTF8ToString(ReadInputFile(*file)));
  smtp.SetPriority(static_cast<TKtISMTPPriority>(args.GetInt("--priority", 3, 1, 5) - 1));
  const bool plain = IsAscii(smtp.Body()->Text());
  if (!plain) smtp.SetEncoding(u"8bit");
  if (auto cs = args.Get("--charset")) smtp.SetCharSet(UTF8ToString(*cs));
  // Text typed beyond ASCII arrives as UTF-8 and goes out as such unless a charset is named.
  else if (!plain) smtp.SetCharSet(u"utf-8");
  for (const std::string& item : args.GetAll("--attach")) {
    TKtIEMailAttachment* a = smtp.Attachments()->Add();
    std::string file = item;
    std::string type;
    // FILE:TYPE, where TYPE looks like a MIME type; a colon elsewhere belongs to the file name.
    size_t colon = item.rfind(':');
    if (colon != std::string::npos && item.find('/', colon) != std::string::npos &&
        item.find_first_of(" ;", colon) == std::string::npos) {
      file = item.substr(0, colon);
      type = item.substr(colon + 1);
    }
    a->SetFileName(UTF8ToString(file));
    a->SetAttachmentName(a->GetAttachmentName());
    a->SetEncoding(u"base64");
    if (type.empty()) a->DetectContentType();
    else a->SetContentType(UTF8ToString(type));
  }
  if (auto user = args.Get("--user")) {
    smtp.Login()->SetUserID(UTF8ToString(*user));
    auto password = PasswordFor(args, *user, "--password", "KTINET_PASSWORD", "Mail server logon");
    if (!password) throw UsageError("--user needs a password: --password-file F, $KTINET_PASSWORD or --password P");
    smtp.Login()->SetPassword(UTF8ToString(*password));
    smtp.Login()->SetUseLogin(true);
  }

  try {
    RunAskingProxyLogon(smtp, [&] { return smtp.Execute(); });
  } catch (const Exception& e) {
    // Refused input, a failed connect or greeting, a TLS handshake that failed.
    std::cerr << "ktinet mail: " << e.what() << "\n";
    return kExitFailed;
  }
  if (!smtp.LastError().empty()) {
    std::cerr << "ktinet mail: " << FailureText(smtp) << "\n";
    return kExitFailed;
  }
  if (args.Has("--json")) {
    // The server took every recipient: a refused one fails the whole message.
    JsonArray accepted;
    for (const TKtIEMailAddresses* list : {smtp.Recipients(), smtp.CC(), smtp.BCC()})
      for (int i = 0; i < list->Count(); ++i) accepted.Text(list->Items(i)->Address());
    std::cout << JsonObject()
                     .Text("server", host + ":" + std::to_string(port))
                     .Raw("accepted", accepted.Str())
                     .Text("reply", NetworkText(smtp.LastReply()))
                     .Number("size", smtp.MessageSize())
                     .Str()
              << "\n";
    return kExitOk;
  }
  std::cout << "accepted by " << host << ":" << port << " for "
            << smtp.Recipients()->Count() + smtp.CC()->Count() + smtp.BCC()->Count() << " recipient(s)\n";
  return kExitOk;
}

std::vector<Args::OptionSpec> MailOptions() {
  auto specs = SocketOptions();
  for (const char* name : {"--server", "--from", "--to", "--cc", "--bcc", "--reply-to", "--subject", "--body",
                           "--body-file", "--user", "--tls", "--cacert", "--priority", "--charset"})
    specs.push_back({name, "", true});
  AppendOptions(specs, SecretOptions("--password"));
  specs.push_back({"--insecure", "", false});
  specs.push_back({"--attach", "", true, true});
  specs.push_back({"--json", "", false});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "mail", "send a mail message over SMTP, with attachments, login and TLS (TKtISMTP)",
    std::string("Usage: ktinet mail --server HOST[:PORT] --from ADDR --to LIST [OPTIONS]\n\n"
                "Sends one message and exits 0 when the server accepted it, 1 with the server's reply\n"
                "otherwise. Address lists are comma-separated (\"Name <a@b>, c@d\").\n\n"
                "  --server HOST[:PORT]   mail server (port 25; 587 with starttls, 465 with implicit)\n"
                "  --from ADDR            sender\n"
                "  --to LIST              recipients\n"
                "  --cc LIST              copies\n"
                "  --bcc LIST             blind copies (in the envelope only, never in a header)\n"
                "  --reply-to LIST        Reply-To addresses\n"
                "  --subject S            subject (characters beyond ASCII are encoded)\n"
                "  --body TEXT            body text (\\n starts a new line)\n"
                "  --body-file F          body from a UTF-8 text file (\"-\": standard input)\n"
                "  --attach FILE[:TYPE]   attach a file (repeatable); TYPE from the extension if absent\n"
                "  --user U               log in (AUTH LOGIN) with this user name; on a terminal the\n"
                "                         password is asked for when none of the forms below gives it\n") +
        SecretHelp("--password", "", "the password for --user", "KTINET_PASSWORD", 25, false) +
        "  --tls MODE             none (default), starttls or implicit\n"
        "  --cacert FILE          also trust this CA certificate (PEM; $SSL_CERT_FILE and\n"
        "                         $SSL_CERT_DIR replace the system's store)\n"
        "  --insecure             do not verify the server's certificate\n"
        "  --priority 1-5         X-Priority (3)\n"
        "  --charset CS           charset of the text (us-ascii; utf-8 for text beyond ASCII)\n"
        "  --json                 {\"server\", \"accepted\": [addresses], \"reply\": the server's\n"
        "                         answer to the message, \"size\": bytes of the message}\n" +
        kSocketOptionsHelp,
    MailOptions(), RunMail});

}  // namespace ktinet::cli
