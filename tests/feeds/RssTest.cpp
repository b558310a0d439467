// The RSS scanner against the feeds of the corpus (compared with a real feed reader where the
// scanner's rules agree with it) and against the rules' own corner cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "rtl/SysUtils.h"
#include "xml/KtIRSS.h"

namespace ktinet {
namespace {

std::string Corpus(const std::string& name) { return std::string(KTINET_SOURCE_DIR) + "/tests/feeds/corpus/" + name; }

std::string U8(const String& s) { return UTF8Encode(s); }

std::unique_ptr<TKtIRSSChannels> Parse(std::string_view text) {
  auto channels = std::make_unique<TKtIRSSChannels>();
  ParseRSSText(text, *channels);
  return channels;
}

// "C<TAB>title<TAB>link" for each channel, then "I<TAB>title<TAB>link" for each of its items.
std::vector<std::string> Outline(const TKtIRSSChannels& channels) {
  std::vector<std::string> out;
  for (int c = 0; c < channels.Count(); ++c) {
    const TKtIRSSChannel* ch = channels.GetItem(c);
    out.push_back("C\t" + U8(ch->Title) + "\t" + U8(ch->Link));
    for (int i = 0; i < ch->Items()->Count(); ++i) {
      const TKtIRSSItem* it = ch->Items()->GetItem(i);
      out.push_back("I\t" + U8(it->Title) + "\t" + U8(it->Link));
    }
  }
  return out;
}

// The same outline as the system's feed reader sees it.
std::vector<std::string> ReaderOutline(const std::string& file) {
  const std::string script =
      "import sys, feedparser\n"
      "d = feedparser.parse(sys.argv[1])\n"
      "print('C\\t%s\\t%s' % (d.feed.get('title', ''), d.feed.get('link', '')))\n"
      "for e in d.entries: print('I\\t%s\\t%s' % (e.get('title', ''), e.get('link', '')))\n";
  const std::string cmd = "/usr/bin/python3 -c \"$KTINET_FP\" '" + file + "'";
  ::setenv("KTINET_FP", script.c_str(), 1);
  FILE* p = ::popen(cmd.c_str(), "r");
  EXPECT_NE(p, nullptr);
  std::vector<std::string> out;
  if (!p) return out;
  std::string line;
  for (int ch; (ch = std::fgetc(p)) != EOF;) {
    if (ch == '\n') {
      out.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(ch);
    }
  }
  EXPECT_EQ(::pclose(p), 0) << "feedparser is needed: apt-get install python3-feedparser";
  return out;
}

TEST(RssCorpus, FeedsWhereTheRulesAgreeMatchARealReader) {
  for (const char* name : {"rss091.xml", "rss092.xml", "rss10.xml"}) {
    SCOPED_TRACE(name);
    auto channels = Parse(test::ReadFileBytes(Corpus(name)));
    std::vector<std::string> reader = ReaderOutline(Corpus(name));
    ASSERT_GE(reader.size(), 2u);
    EXPECT_EQ(Outline(*channels), reader);
  }
}

TEST(RssCorpus, ChannelAndItemFieldsOfEachForm) {
  auto c091 = Parse(test::ReadFileBytes(Corpus("rss091.xml")));
  ASSERT_EQ(c091->Count(), 1);
  const TKtIRSSChannel* ch = c091->GetItem(0);
  EXPECT_EQ(ch->Language, u"en-gb");
  EXPECT_EQ(ch->Copyright, u"Copyright 2001, Harbour Town Gazette");
  EXPECT_EQ(ch->ManagingEditor, u"desk@gazette.example.org (News Desk)");
  EXPECT_EQ(ch->WebMaster, u"web@gazette.example.org (Web Team)");
  EXPECT_EQ(ch->PubDate, u"Mon, 05 Mar 2001 07:00:00 GMT");
  EXPECT_EQ(ch->LastBuildDate, u"Mon, 05 Mar 2001 07:15:00 GMT");
  EXPECT_EQ(ch->Docs, u"http://my.netscape.com/publish/formats/rss-0.91-format.html");
  EXPECT_EQ(ch->Rating.substr(0, 10), u"(PICS-1.1 ");
  EXPECT_EQ(ch->Items()->GetItem(1)->Description, u"Four volunteers receive the society's bronze medal.");
  EXPECT_EQ(ch->Items()->GetItem(2)->Description, u"");

  // RSS 1.0: the items are the channel's siblings and still land in it; the image and text-input
  // blocks beside the channel store nothing.
  auto c10 = Parse(test::ReadFileBytes(Corpus("rss10.xml")));
  ASSERT_EQ(c10->Count(), 1);
  ch = c10->GetItem(0);
  EXPECT_EQ(ch->Title, u"University Library News");
  EXPECT_EQ(ch->Description, u"Opening hours, new collections and events at the library.");
  ASSERT_EQ(ch->Items()->Count(), 2);
  EXPECT_EQ(ch->Items()->GetItem(0)->Creator, u"Margaret Okafor");
  EXPECT_EQ(ch->Items()->GetItem(0)->Date, u"2004-02-10T08:30:00-05:00");
  EXPECT_EQ(ch->Items()->GetItem(1)->Creator, u"Tomas Lindqvist");

  // The same 0.91 feed without a single line break: no text follows the channel's start tag, so
  // there is no channel (a real reader would find one).
  EXPECT_EQ(Parse(test::ReadFileBytes(Corpus("rss091-oneline.xml")))->Count(), 0);
}

TEST(RssCorpus, Rss20WithCdataEntitiesAndNestedBlocks) {
  auto channels = Parse(test::ReadFileBytes(Corpus("rss20.xml")));
  ASSERT_EQ(channels->Count(), 1);
  const TKtIRSSChannel* ch = channels->GetItem(0);
  // The image and text-input blocks sit under the channel: their titles, links and description
  // overwrite the channel's, the last one in the file winning.
  EXPECT_EQ(ch->Title, u"Search");
  EXPECT_EQ(ch->Link, u"https://notes.example.com/search");
  EXPECT_EQ(ch->Description, u"Search the notes");
  EXPECT_EQ(ch->Generator, u"Handmade 1.2");
  EXPECT_EQ(ch->Ttl, u"60");
  ASSERT_EQ(ch->Items()->Count(), 2);
  const TKtIRSSItem* first = ch->Items()->GetItem(0);
  EXPECT_EQ(first->Title, u"Ridge walk &lt;updated&gt;");  // entities stay as written
  EXPECT_EQ(first->Link, u"https://notes.example.com/2026/ridge?a=1&amp;b=2");
  EXPECT_EQ(first->Description, u"A clear day on the ridge.");
  const TKtIRSSItem* second = ch->Items()->GetItem(1);
  EXPECT_EQ(second->Title, u"Trout season opens");
  EXPECT_EQ(second->Creator, u"Ana Ruiz");
  // A CDATA section is a tag up to its first ">": only the fragment up to the next "<" is left.
  EXPECT_EQ(second->Description, u"The");
}

TEST(RssScanner, TagAndPathRules) {
  // A ">" inside a quoted attribute value does not end the tag.
  auto c = Parse("<rss>\n<channel>\n<title a=\">X\">T</title>\n</channel></rss>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"T");

  // Field names are case-sensitive; text after the last ">" is never stored.
  c = Parse("<rss>\n<channel>\n<Title>Upper</Title>\n<link>L</link><title>Tail");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"");
  EXPECT_EQ(c->GetItem(0)->Link, u"L");

  // The root's end tag leaves "/", so a channel after it is still at channel level.
  c = Parse("<rss>\n</rss><channel>\n<title>After</title>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"After");

  // An empty element leaves the path alone: the item's end tag closes the item, not the enclosure.
  c = Parse("<rss><channel>\n<item>\n<enclosure url=\"e\"/>\n</item>\n<title>Chan</title>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"Chan");
  ASSERT_EQ(c->GetItem(0)->Items()->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Items()->GetItem(0)->Title, u"");

  // A comment with a blank is ignored; one without lengthens the path, so the item below it is no
  // longer at item level and its title lands in the channel.
  c = Parse("<rss><channel>\n<!-- note --><item>\n<title>A</title></item>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Items()->GetItem(0)->Title, u"A");
  c = Parse("<rss><channel>\n<!--note--><item>\n<title>A</title></item>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"A");
  EXPECT_EQ(c->GetItem(0)->Items()->GetItem(0)->Title, u"");

  // An item field before the channel has an item is dropped, not stored anywhere.
  c = Parse("<rss><channel>\n<item><title>Lost</title></item>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Items()->Count(), 0);
  EXPECT_EQ(c->GetItem(0)->Title, u"");

  // Whitespace alone after the start tag creates the channel; a later text replaces an earlier one.
  c = Parse("<rss><channel> <title>One</title><title>Two</title></channel><channel>\t<title>B</title>");
  ASSERT_EQ(c->Count(), 2);
  EXPECT_EQ(c->GetItem(0)->Title, u"Two");
  EXPECT_EQ(c->GetItem(1)->Title, u"B");

  // Bytes above 127 are read as Windows-1252.
  c = Parse("<rss><channel>\n<title>Caf\xE9 \x80 5</title>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"Caf\u00E9 \u20AC 5");
}

// Which encoding a feed's fields are read in: what it declares, else what its bytes allow.
TEST(RssScanner, EncodingFollowsTheDeclarationElseTheBytes) {
  const std::string body = "<rss><channel>\n<title>Caf\xC3\xA9 \xE2\x82\xAC</title>\n<item>\n<title>\xC3\xBC</title>";
  // Declared UTF-8, in either kind of quotes and any letter case, or not declared at all.
  for (const std::string head : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", "<?xml version='1.0' encoding='utf-8'?>\n",
                                 "<?xml version=\"1.0\" encoding = \"utf8\" ?>\n", "", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(head);
    auto c = Parse(head + body);
    ASSERT_EQ(c->Count(), 1);
    EXPECT_EQ(c->GetItem(0)->Title, u"Caf\u00E9 \u20AC");
    ASSERT_EQ(c->GetItem(0)->Items()->Count(), 1);
    EXPECT_EQ(c->GetItem(0)->Items()->GetItem(0)->Title, u"\u00FC");
  }
  // Another declared encoding is read as Windows-1252, even where the bytes would be UTF-8.
  auto c = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + body);
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"Caf\u00C3\u00A9 \u00E2\u201A\u00AC");
  // Undeclared bytes that are not UTF-8 anywhere in the feed: Windows-1252 for every field, also
  // for fields that alone would be UTF-8.
  c = Parse(body + "</item><item>\n<title>\xE9t\xE9</title>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Title, u"Caf\u00C3\u00A9 \u00E2\u201A\u00AC");
  EXPECT_EQ(c->GetItem(0)->Items()->GetItem(1)->Title, u"\u00E9t\u00E9");
  // Overlong forms and surrogates are not UTF-8.
  c = Parse("<rss><channel>\n<title>\xC0\xAF \xED\xA0\x80</title>");
  EXPECT_EQ(c->GetItem(0)->Title, u"\u00C0\u00AF \u00ED\u00A0\u20AC");
  // Declared UTF-8 with a malformed byte: that byte alone becomes U+FFFD.
  c = Parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><rss><channel>\n<title>a\xE9z \xC3\xA9</title>");
  EXPECT_EQ(c->GetItem(0)->Title, u"a\uFFFDz \u00E9");
}

TEST(RssCorpus, Utf8FeedMatchesARealReader) {
  test::TempDir dir;
  for (const std::string head : {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", ""}) {
    SCOPED_TRACE(head);
    const std::string file = dir.Write("utf8.xml", head +
                                                       "<rss version=\"2.0\">\n<channel>\n<title>Caf\xC3\xA9 \xE2\x82\xAC</title>\n"
                                   "<link>http://example.org/</link>\n<item>\n<title>Gr\xC3\xBC\xC3\x9F"
                                   "e \xF0\x9F\x98\x80</title>\n<link>http://example.org/1</link>\n</item>\n"
                                   "</channel>\n</rss>\n");
    auto channels = Parse(test::ReadFileBytes(file));
    EXPECT_EQ(Outline(*channels), ReaderOutline(file));
    ASSERT_EQ(channels->Count(), 1);
    EXPECT_EQ(channels->GetItem(0)->Title, u"Caf\u00E9 \u20AC");
  }
}

// The path of open elements grows with every unclosed start tag: deep nesting still files the
// fields by the right place (the scan keeps only what it needs of the path, not copies of it).
TEST(RssScanner, DeepNestingKeepsThePlaceOfEachField) {
  std::string feed = "<rss><channel>\n<item>\n";
  for (int k = 0; k < 20000; ++k) feed += "<item>\n";
  feed += "<title>Deep</title>\n";
  for (int k = 0; k < 20000; ++k) feed += "</item>\n";
  // Back at item level: the fields land in the last item read.
  feed += "<link>L</link>\n</item>\n<title>Chan</title>\n";
  auto c = Parse(feed);
  ASSERT_EQ(c->Count(), 1);
  const TKtIRSSChannel* ch = c->GetItem(0);
  EXPECT_EQ(ch->Items()->Count(), 20001);
  // "/channel/item/item/..." still holds "/channel/item/", so the deep title is an item field.
  EXPECT_EQ(ch->Items()->Last()->Title, u"Deep");
  EXPECT_EQ(ch->Items()->Last()->Link, u"L");
  EXPECT_EQ(ch->Title, u"Chan");

  // A place is found across element names that hold a slash, and is lost again when an end tag
  // cuts the path inside such a name.
  c = Parse("<rss>\n<channel>\n<item>\n</item>\n<channel/item>\n<title>I</title></channel/item>\n<title>C</title>");
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->GetItem(0)->Items()->GetItem(0)->Title, u"I");
  EXPECT_EQ(c->GetItem(0)->Title, u"C");
}

TEST(RssScanner, TruncatedAndBinaryTextStaysInBounds) {
  // Unclosed quotes and tags at the very end, and zero bytes inside: each stops cleanly.
  const std::vector<std::string> texts = {
      "<", "<a", "<a \"", "<a '>", "<rss><channel>\n<title x=\"", std::string("<rss>\0<channel>\n", 16),
      std::string("<rss><channel>\n<title a=\"\0\">T</title>", 37), "\"'<>'\"", ">>>"};
  for (const auto& t : texts) {
    auto c = Parse(t);
    EXPECT_LE(c->Count(), 1);
  }
}

TEST(RssLists, OwningListsAndCopies) {
  TKtIRSSChannel source;
  source.Title = u"T";
  source.Ttl = u"5";
  source.Items()->Add()->Title = u"a";
  source.Items()->Add()->Title = u"b";
  TKtIRSSChannel copy;
  copy.Items()->Add()->Title = u"old";
  copy.Assign(&source);
  EXPECT_EQ(copy.Title, u"T");
  EXPECT_EQ(copy.Ttl, u"5");
  ASSERT_EQ(copy.Items()->Count(), 2);
  EXPECT_NE(copy.Items()->GetItem(0), source.Items()->GetItem(0));  // copies, not shared
  EXPECT_EQ(copy.Items()->GetItem(1)->Title, u"b");
  source.Items()->DeleteItem(0);
  EXPECT_EQ(source.Items()->GetItem(0)->Title, u"b");
  EXPECT_EQ(source.Items()->GetItem(1), nullptr);
  EXPECT_EQ(source.Items()->GetItem(-1), nullptr);
  EXPECT_EQ(copy.Items()->Count(), 2);

  // A source of another class changes nothing.
  TKtIRSSItem item;
  item.Title = u"keep";
  item.Assign(&source);
  EXPECT_EQ(item.Title, u"keep");
  copy.Items()->AssignItems(&item);
  EXPECT_EQ(copy.Items()->Count(), 2);
}

TEST(RssParser, RunDownloadsParsesAndRemovesItsFile) {
  test::NginxServer::Options o;
  o.files = {{"feeds/news.xml", test::ReadFileBytes(Corpus("rss091.xml"))},
             {"feeds/other.xml", test::ReadFileBytes(Corpus("rss10.xml"))}};
  test::NginxServer nginx(o);

  TKtIRSSParser parser(nullptr);
  parser.SetHost(u"127.0.0.1");
  parser.SetPort(static_cast<Word>(nginx.Port()));
  parser.SetRemoteFileName(u"/feeds/news.xml");
  ASSERT_TRUE(parser.Execute());
  EXPECT_EQ(parser.Status(), isFinished);
  ASSERT_EQ(parser.Channels()->Count(), 1);
  EXPECT_EQ(parser.Channels()->GetItem(0)->Items()->Count(), 3);
  EXPECT_EQ(ExtractFileExt(parser.LocalFileName()), u".xml");
  EXPECT_FALSE(FileExists(parser.LocalFileName()));

  // The file is gone after every run, so the next run downloads and parses again.
  const String local = parser.LocalFileName();
  ASSERT_TRUE(parser.Execute());
  EXPECT_EQ(parser.Status(), isFinished);
  EXPECT_EQ(parser.Channels()->Count(), 1);

  // A second parser fetching another .xml feed at the same time gets a file of its own.
  TKtIRSSParser other(nullptr);
  other.SetHost(u"127.0.0.1");
  other.SetPort(static_cast<Word>(nginx.Port()));
  other.SetRemoteFileName(u"/feeds/other.xml");
  ASSERT_TRUE(other.Execute());
  EXPECT_NE(other.LocalFileName(), local);
  EXPECT_EQ(other.Channels()->GetItem(0)->Title, u"University Library News");
  EXPECT_EQ(parser.Channels()->GetItem(0)->Title, u"Harbour Town Gazette");

  // A run that does not finish (the server is gone) parses nothing and keeps the previous result.
  nginx.Stop();
  parser.Execute();
  EXPECT_NE(parser.Status(), isFinished);
  EXPECT_EQ(parser.Channels()->Count(), 1);
  EXPECT_FALSE(FileExists(parser.LocalFileName()));
}

}  // namespace
}  // namespace ktinet
