// The whole schema, checked through its descriptors: every definition file
// defines what it should, and every message survives a round trip with all of
// its fields set. The spot checks pin down wire details that peers rely on.
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/message_differencer.h>

#include <gtest/gtest.h>

#include "schema/App.pb.h"
#include "schema/BaseMsg.pb.h"
#include "schema/DeviceSync.pb.h"
#include "schema/DictUpdate.pb.h"
#include "schema/FyvoiceUpload.pb.h"
#include "schema/QlAbTestCommon.pb.h"
#include "schema/QlBookvideo.pb.h"
#include "schema/QlGetFeatures.pb.h"
#include "schema/QlRc.pb.h"
#include "schema/QuilloCommunication.pb.h"

namespace {

// No `using namespace` for the packages: the files without one put names such
// as `App`, `Command` and `Source` into the global namespace.
namespace qpb = com::norvane::quillo::pb;
namespace tpb = com::norvane::tanix::pb;
using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::Reflection;
using google::protobuf::util::MessageDifferencer;

constexpr auto kProto2 = FileDescriptor::SYNTAX_PROTO2;
constexpr auto kProto3 = FileDescriptor::SYNTAX_PROTO3;
constexpr std::string_view kReport = "com.norvane.tanix.pb";

enum class Topic { Header, Input, Media, Apps, Service, Sync, Client };

// What each definition file defines. Nested types count; map entries do not.
struct FileShape {
  std::string_view name;
  Topic topic;
  FileDescriptor::Syntax syntax;
  std::string_view package;
  int messages;
  int enums;
  int fields;  // over all of its messages
  int values;  // over all of its enumerations
};

constexpr FileShape kFiles[] = {
    {"App.proto", Topic::Header, kProto3, kReport, 0, 1, 0, 6},
    {"BaseMsg.proto", Topic::Header, kProto3, kReport, 1, 0, 5, 0},
    {"QlAppPcInstallSource.proto", Topic::Header, kProto3, kReport, 0, 1, 0, 35},
    {"QlStatAppPcInstall.proto", Topic::Header, kProto3, kReport, 1, 0, 3, 0},
    {"QlStatPcAppCommonAction.proto", Topic::Header, kProto3, kReport, 0, 1, 0, 258},
    {"QlStatPcAppCommonActionReport.proto", Topic::Header, kProto3, kReport, 1, 0, 20, 0},
    {"QlStatPcAppCommonScene.proto", Topic::Header, kProto3, kReport, 0, 1, 0, 72},
    {"QlVmodeSource.proto", Topic::Header, kProto3, kReport, 0, 1, 0, 10},
    {"QlCalculatorAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 2},
    {"QlClipboardAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 32},
    {"QlClipboardScene.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 13},
    {"QlCommonAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 2},
    {"QlExpectWordInDict.proto", Topic::Input, kProto3, kReport, 1, 0, 2, 0},
    {"QlKeyType.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 5},
    {"QlKeyboardType.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 9},
    {"QlStatAssociationReport.proto", Topic::Input, kProto3, kReport, 1, 0, 27, 0},
    {"QlStatAssociationSelectType.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 3},
    {"QlStatAssociationUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 22, 0},
    {"QlStatBadcaseAssociateReport.proto", Topic::Input, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatBadcaseCandidateReport.proto", Topic::Input, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatBadcaseEmojiReport.proto", Topic::Input, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatBadcaseHandwritingReport.proto", Topic::Input, kProto3, kReport, 1, 0, 10, 0},
    {"QlStatBadcaseReport.proto", Topic::Input, kProto3, kReport, 1, 0, 13, 0},
    {"QlStatCalculatorActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 9, 0},
    {"QlStatCalculatorUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 8, 0},
    {"QlStatCandidateActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 7, 0},
    {"QlStatCandidateClickReport.proto", Topic::Input, kProto3, kReport, 1, 0, 42, 0},
    {"QlStatCandidateDeleteReport.proto", Topic::Input, kProto3, kReport, 1, 0, 3, 0},
    {"QlStatCandidateScene.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 7},
    {"QlStatCandidateUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatCandidateUserClickReport.proto", Topic::Input, kProto3, kReport, 1, 0, 28, 0},
    {"QlStatClipboardActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 8, 0},
    {"QlStatCloudCandidateActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 14, 0},
    {"QlStatCommonTermsAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 20},
    {"QlStatCommonTermsUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 7, 0},
    {"QlStatCorrectionAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 7},
    {"QlStatCorrectionActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 10, 0},
    {"QlStatCorrectionUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 8, 0},
    {"QlStatFindWordsAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 4},
    {"QlStatFindWordsScene.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 9},
    {"QlStatFindWordsUserClickReport.proto", Topic::Input, kProto3, kReport, 1, 0, 4, 0},
    {"QlStatGroupClipboardUserActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 14, 0},
    {"QlStatQuery.proto", Topic::Input, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatSentType.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 3},
    {"QlStatTranslateInputAction.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 9},
    {"QlStatTranslateInputActionReport.proto", Topic::Input, kProto3, kReport, 1, 0, 11, 0},
    {"QlStatTranslateInputLanguageSetting.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 4},
    {"QlStatTranslateInputModule.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 2},
    {"QlStatTranslateInputScene.proto", Topic::Input, kProto3, kReport, 0, 1, 0, 5},
    {"GuAiChatAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 20},
    {"GuAiChatItemType.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 7},
    {"GuAiChatModule.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 5},
    {"GuAiChatScene.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 1},
    {"QlAiQuestionAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 53},
    {"QlAiQuestionSource.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 9},
    {"QlMediaActionSource.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 7},
    {"QlMediaItemtype.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 10},
    {"QlStatAiQuestionActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 44, 0},
    {"QlStatAiQuestionUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 43, 0},
    {"QlStatEmojiAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 23},
    {"QlStatEmojiActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 26, 0},
    {"QlStatEmojiClickReport.proto", Topic::Media, kProto3, kReport, 1, 0, 18, 0},
    {"QlStatEmojiExitSource.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 7},
    {"QlStatEmojiItemFormat.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 5},
    {"QlStatEmojiItemReport.proto", Topic::Media, kProto3, kReport, 1, 0, 23, 0},
    {"QlStatEmojiItemSource.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 5},
    {"QlStatEmojiQueryStatus.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 5},
    {"QlStatEmojiRequestFailType.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 4},
    {"QlStatEmojiRequestType.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 3},
    {"QlStatEmojiSource.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 10},
    {"QlStatEmojiType.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 3},
    {"QlStatEmojiUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 31, 0},
    {"QlStatKaomojiAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 4},
    {"QlStatKaomojiActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 12, 0},
    {"QlStatKaomojiUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 11, 0},
    {"QlStatKeyboardAiChatActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 17, 0},
    {"QlStatKeyboardAiChatUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 13, 0},
    {"QlStatMediaAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 9},
    {"QlStatMediaActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 15, 0},
    {"QlStatMediaUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 11, 0},
    {"QlStatVmodeUserActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 15, 0},
    {"QlStatVoiceInputAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 28},
    {"QlStatVoiceInputActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 29, 0},
    {"QlStatVoiceInputContentActionReport.proto", Topic::Media, kProto3, kReport, 1, 0, 31, 0},
    {"QlStatVoiceInputLanguageSetting.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 6},
    {"QlStatVoiceInputPunctuationSetting.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 4},
    {"QlStatVoiceInputScene.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 14},
    {"QlVmodeAction.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 22},
    {"QlVmodeScene.proto", Topic::Media, kProto3, kReport, 0, 1, 0, 6},
    {"FyPieces.proto", Topic::Apps, kProto3, kReport, 1, 0, 5, 0},
    {"QlDictUpdateStatusReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 21, 0},
    {"QlEventCostTimeReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 5, 0},
    {"QlEventCostType.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 10},
    {"QlExceptionEventReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 12, 0},
    {"QlExceptionSubtype.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 3},
    {"QlExceptionType.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 46},
    {"QlInitZphwResetCandidate.proto", Topic::Apps, kProto3, kReport, 1, 0, 9, 0},
    {"QlMacMonitorType.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 4},
    {"QlMacUsageMonitor.proto", Topic::Apps, kProto3, kReport, 1, 0, 8, 0},
    {"QlPerformanceProcess.proto", Topic::Apps, kProto3, kReport, 1, 0, 4, 0},
    {"QlPerformanceProcessType.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 4},
    {"QlPieces.proto", Topic::Apps, kProto3, kReport, 1, 0, 6, 0},
    {"QlProcesKeySubType.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 4},
    {"QlProcessHotStart.proto", Topic::Apps, kProto3, kReport, 1, 0, 13, 0},
    {"QlProcessInit.proto", Topic::Apps, kProto3, kReport, 1, 0, 8, 0},
    {"QlProcessKeyCost.proto", Topic::Apps, kProto3, kReport, 1, 0, 29, 0},
    {"QlProcessStart.proto", Topic::Apps, kProto3, kReport, 1, 0, 14, 0},
    {"QlStatAppActiveReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 12, 0},
    {"QlStatAppCommonAction.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 222},
    {"QlStatAppCommonActionReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 14, 0},
    {"QlStatAppCommonScene.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 71},
    {"QlStatKeyboardActiveActionSecond.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 3},
    {"QlStatKeyboardActiveReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 27, 0},
    {"QlStatKeyboardCommonAction.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 31},
    {"QlStatKeyboardCommonActionReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 4, 0},
    {"QlStatKeyboardCommonScene.proto", Topic::Apps, kProto3, kReport, 0, 1, 0, 10},
    {"QlStatKeyboardInitiateStartReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 5, 0},
    {"QlStatKeyboardLostReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 4, 0},
    {"QlStatPcAppButtonStatusReport.proto", Topic::Apps, kProto3, kReport, 1, 0, 41, 0},
    {"BusLogSample.proto", Topic::Service, kProto2, "", 4, 0, 10, 0},
    {"Fybase.proto", Topic::Service, kProto2, "FYBase", 16, 0, 23, 0},
    {"FyvoiceUpload.proto", Topic::Service, kProto2, "FYVoiceUpload", 4, 0, 20, 0},
    {"Kbappcomm.proto", Topic::Service, kProto2, "kbappcomm", 5, 0, 15, 0},
    {"QuilloCommunication.proto", Topic::Service, kProto2, "", 13, 2, 29, 16},
    {"Chat.proto", Topic::Sync, kProto2, "", 13, 3, 50, 14},
    {"DeviceSync.proto", Topic::Sync, kProto3, "QLDeviceSync", 47, 1, 171, 8},
    {"DictUpdate.proto", Topic::Client, kProto3, "com.norvane.quillo.pb", 12, 6, 86, 32},
    {"QlAbTest.proto", Topic::Client, kProto3, "com.norvane.quillo.pb", 2, 0, 8, 0},
    {"QlAbTestCommon.proto", Topic::Client, kProto3, "com.norvane.quillo.pb", 7, 3, 20, 17},
    {"QlBookvideo.proto", Topic::Client, kProto2, "", 6, 1, 21, 3},
    {"QlGetDeviceBenchMark.proto", Topic::Client, kProto3, "com.norvane.pilok.pb", 3, 0, 7, 0},
    {"QlGetFeatures.proto", Topic::Client, kProto3, "", 2, 1, 4, 3},
    {"QlRc.proto", Topic::Client, kProto2, "", 7, 4, 18, 21},
    {"QlaskAicommand.proto", Topic::Client, kProto3, "com.norvane.quillo.pb", 6, 1, 11, 4},
};

// How many messages and enumerations each topic's files define in all.
struct TopicTotals {
  Topic topic;
  int files;
  int messages;
  int enums;
};

constexpr TopicTotals kTopics[] = {
    {Topic::Header, 8, 3, 5},   {Topic::Input, 41, 24, 17}, {Topic::Media, 40, 15, 25},
    {Topic::Apps, 30, 19, 11},  {Topic::Service, 5, 42, 2}, {Topic::Sync, 2, 60, 4},
    {Topic::Client, 8, 45, 16},
};

const DescriptorPool& pool() { return *DescriptorPool::generated_pool(); }

std::string bytes(std::initializer_list<unsigned char> list) {
  return std::string(list.begin(), list.end());
}

std::string serialized(const Message& message) {
  std::string out;
  EXPECT_TRUE(message.SerializeToString(&out));
  return out;
}

// Messages, nested ones included, but not the entries protoc makes for maps.
void collectMessages(const Descriptor* message, std::vector<const Descriptor*>& out) {
  if (message->options().map_entry()) return;
  out.push_back(message);
  for (int i = 0; i < message->nested_type_count(); ++i) {
    collectMessages(message->nested_type(i), out);
  }
}

std::vector<const Descriptor*> messagesOf(const FileDescriptor* file) {
  std::vector<const Descriptor*> out;
  for (int i = 0; i < file->message_type_count(); ++i) collectMessages(file->message_type(i), out);
  return out;
}

std::vector<const EnumDescriptor*> enumsOf(const FileDescriptor* file) {
  std::vector<const EnumDescriptor*> out;
  for (int i = 0; i < file->enum_type_count(); ++i) out.push_back(file->enum_type(i));
  for (const Descriptor* message : messagesOf(file)) {
    for (int i = 0; i < message->enum_type_count(); ++i) out.push_back(message->enum_type(i));
  }
  return out;
}

TEST(SchemaShapeTest, EachTopicDefinesItsStatedCounts) {
  for (const TopicTotals& totals : kTopics) {
    SCOPED_TRACE(static_cast<int>(totals.topic));
    int files = 0, messages = 0, enums = 0;
    for (const FileShape& file : kFiles) {
      if (file.topic != totals.topic) continue;
      ++files;
      messages += file.messages;
      enums += file.enums;
    }
    EXPECT_EQ(files, totals.files);
    EXPECT_EQ(messages, totals.messages);
    EXPECT_EQ(enums, totals.enums);
  }
  EXPECT_EQ(std::size(kFiles), 134u);
}

// Scalars: neither lists, nor maps, nor messages.
bool isScalar(const FieldDescriptor* field) {
  return !field->is_repeated() && field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE;
}

std::vector<const Descriptor*> messagesInPackage(std::string_view package) {
  std::vector<const Descriptor*> out;
  for (const FileShape& shape : kFiles) {
    if (shape.package != package) continue;
    const FileDescriptor* file = pool().FindFileByName(std::string(shape.name));
    if (file == nullptr) continue;  // SchemaFileTest reports it
    for (const Descriptor* message : messagesOf(file)) out.push_back(message);
  }
  return out;
}

TEST(SchemaShapeTest, ReportsLeadWithTheHeaderAndLeaveZeroScalarsOut) {
  auto reports = messagesInPackage(kReport);
  std::erase(reports, tpb::BaseMsg::descriptor());
  ASSERT_EQ(reports.size(), 60u);
  for (const Descriptor* report : reports) {
    SCOPED_TRACE(report->full_name());
    const FieldDescriptor* first = report->FindFieldByNumber(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name(), "base_log");
    ASSERT_NE(first->message_type(), nullptr);
    EXPECT_EQ(first->message_type()->full_name(), "com.norvane.tanix.pb.BaseMsg");
    for (int i = 0; i < report->field_count(); ++i) {
      if (isScalar(report->field(i))) {
        EXPECT_FALSE(report->field(i)->has_presence()) << report->field(i)->name();
      }
    }
  }
}

TEST(SchemaShapeTest, DeviceSyncScalarsAreWrittenOnceSetEvenWhenZero) {
  const auto messages = messagesInPackage("QLDeviceSync");
  ASSERT_EQ(messages.size(), 47u);
  for (const Descriptor* message : messages) {
    for (int i = 0; i < message->field_count(); ++i) {
      if (isScalar(message->field(i))) {
        EXPECT_TRUE(message->field(i)->has_presence()) << message->field(i)->full_name();
      }
    }
  }
}

void PrintTo(const FileShape& shape, std::ostream* out) { *out << shape.name; }

class SchemaFileTest : public testing::TestWithParam<FileShape> {};

TEST_P(SchemaFileTest, DefinesWhatItShould) {
  const FileShape& shape = GetParam();
  const FileDescriptor* file = pool().FindFileByName(std::string(shape.name));
  ASSERT_NE(file, nullptr) << "not linked in";
  EXPECT_EQ(file->syntax(), shape.syntax);
  EXPECT_EQ(file->package(), shape.package);

  const auto messages = messagesOf(file);
  const auto enums = enumsOf(file);
  int fields = 0, values = 0;
  for (const Descriptor* message : messages) fields += message->field_count();
  for (const EnumDescriptor* e : enums) values += e->value_count();
  EXPECT_EQ(static_cast<int>(messages.size()), shape.messages);
  EXPECT_EQ(static_cast<int>(enums.size()), shape.enums);
  EXPECT_EQ(fields, shape.fields);
  EXPECT_EQ(values, shape.values);
}

std::string fileTestName(const testing::TestParamInfo<FileShape>& info) {
  std::string name(info.param.name);
  return name.substr(0, name.find('.'));
}

INSTANTIATE_TEST_SUITE_P(AllFiles, SchemaFileTest, testing::ValuesIn(kFiles), fileTestName);

// Deep enough for the longest chain of nested messages in the schema.
constexpr int kMaxDepth = 4;

int fillAll(Message& message, int depth);

// Sets or appends one value, distinct per field number so that swapped fields
// would show. Enumerations take their last declared value, which is never 0
// unless the enumeration has only one value.
void putValue(Message& message, const FieldDescriptor* field, int depth) {
  const Reflection* r = message.GetReflection();
  const bool add = field->is_repeated();
  const int n = field->number();
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      add ? r->AddInt32(&message, field, -1000 - n) : r->SetInt32(&message, field, -1000 - n);
      break;
    case FieldDescriptor::CPPTYPE_INT64:
      add ? r->AddInt64(&message, field, -(int64_t{1} << 40) - n)
          : r->SetInt64(&message, field, -(int64_t{1} << 40) - n);
      break;
    case FieldDescriptor::CPPTYPE_UINT32:
      add ? r->AddUInt32(&message, field, 3000000000u + n)
          : r->SetUInt32(&message, field, 3000000000u + n);
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      add ? r->AddUInt64(&message, field, (uint64_t{1} << 63) + n)
          : r->SetUInt64(&message, field, (uint64_t{1} << 63) + n);
      break;
    case FieldDescriptor::CPPTYPE_DOUBLE:
      add ? r->AddDouble(&message, field, 0.5 + n) : r->SetDouble(&message, field, 0.5 + n);
      break;
    case FieldDescriptor::CPPTYPE_FLOAT:
      add ? r->AddFloat(&message, field, 0.25f + n) : r->SetFloat(&message, field, 0.25f + n);
      break;
    case FieldDescriptor::CPPTYPE_BOOL:
      add ? r->AddBool(&message, field, true) : r->SetBool(&message, field, true);
      break;
    case FieldDescriptor::CPPTYPE_STRING: {
      // Text fields get UTF-8 beyond ASCII; bytes fields a NUL and a 0xFF.
      std::string value = field->type() == FieldDescriptor::TYPE_BYTES
                              ? std::string("\0\xff", 2) + std::to_string(n)
                              : "\xe8\xbe\x93" + std::to_string(n);
      add ? r->AddString(&message, field, value) : r->SetString(&message, field, value);
      break;
    }
    case FieldDescriptor::CPPTYPE_ENUM: {
      const EnumDescriptor* type = field->enum_type();
      const auto* last = type->value(type->value_count() - 1);
      add ? r->AddEnum(&message, field, last) : r->SetEnum(&message, field, last);
      break;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE: {
      Message* child = add ? r->AddMessage(&message, field) : r->MutableMessage(&message, field);
      if (depth < kMaxDepth) fillAll(*child, depth + 1);
      break;
    }
  }
}

// Fills every field (lists get two elements, maps one entry) and returns how
// many of them must show up as present.
int fillAll(Message& message, int depth) {
  const Descriptor* type = message.GetDescriptor();
  int present = 0;
  for (int i = 0; i < type->field_count(); ++i) {
    const FieldDescriptor* field = type->field(i);
    putValue(message, field, depth);
    if (field->is_repeated() && !field->is_map()) putValue(message, field, depth);
    // A lone enumeration value is 0, which implicit presence leaves unwritten.
    const bool zero = field->cpp_type() == FieldDescriptor::CPPTYPE_ENUM && !field->is_repeated() &&
                      field->enum_type()->value_count() == 1 &&
                      field->enum_type()->value(0)->number() == 0;
    if (!(zero && !field->has_presence())) ++present;
  }
  return present;
}

std::vector<std::string> allMessageNames() {
  std::vector<std::string> names;
  for (const FileShape& shape : kFiles) {
    const FileDescriptor* file = pool().FindFileByName(std::string(shape.name));
    if (file == nullptr) continue;  // SchemaFileTest reports it
    for (const Descriptor* message : messagesOf(file)) names.push_back(message->full_name());
  }
  return names;
}

class SchemaRoundTripTest : public testing::TestWithParam<std::string> {};

TEST_P(SchemaRoundTripTest, EveryFieldSetSurvivesSerialisation) {
  const Descriptor* type = pool().FindMessageTypeByName(GetParam());
  ASSERT_NE(type, nullptr);
  const Message* prototype = MessageFactory::generated_factory()->GetPrototype(type);
  ASSERT_NE(prototype, nullptr);

  std::unique_ptr<Message> original(prototype->New());
  const int present = fillAll(*original, 0);
  ASSERT_TRUE(original->IsInitialized()) << original->InitializationErrorString();
  const std::string wire = serialized(*original);
  EXPECT_EQ(wire.empty(), type->field_count() == 0);

  std::unique_ptr<Message> copy(prototype->New());
  ASSERT_TRUE(copy->ParseFromString(wire));
  EXPECT_TRUE(MessageDifferencer::Equals(*original, *copy))
      << "sent: " << original->ShortDebugString() << "\nread: " << copy->ShortDebugString();
  // Every field came back under its own number, nothing as unknown data.
  std::vector<const FieldDescriptor*> fields;
  copy->GetReflection()->ListFields(*copy, &fields);
  EXPECT_EQ(static_cast<int>(fields.size()), present);
  EXPECT_EQ(copy->GetReflection()->GetUnknownFields(*copy).field_count(), 0);
}

// The text and JSON forms name fields and values by their schema names.
TEST_P(SchemaRoundTripTest, TextAndJsonFormsRoundTrip) {
  const Descriptor* type = pool().FindMessageTypeByName(GetParam());
  ASSERT_NE(type, nullptr);
  const Message* prototype = MessageFactory::generated_factory()->GetPrototype(type);
  std::unique_ptr<Message> original(prototype->New());
  fillAll(*original, 0);

  std::string text;
  ASSERT_TRUE(google::protobuf::TextFormat::PrintToString(*original, &text));
  std::unique_ptr<Message> fromText(prototype->New());
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(text, fromText.get())) << text;
  EXPECT_TRUE(MessageDifferencer::Equals(*original, *fromText)) << text;

  std::string json;
  ASSERT_TRUE(google::protobuf::util::MessageToJsonString(*original, &json).ok());
  std::unique_ptr<Message> fromJson(prototype->New());
  ASSERT_TRUE(google::protobuf::util::JsonStringToMessage(json, fromJson.get()).ok()) << json;
  EXPECT_TRUE(MessageDifferencer::Equals(*original, *fromJson)) << json;
}

std::string messageTestName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (c == '.') c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(AllMessages, SchemaRoundTripTest, testing::ValuesIn(allMessageNames()),
                         messageTestName);

TEST(SchemaWireTest, NegativeEnumValueTakesTenBytes) {
  qpb::ABTestDeviceInfo info;
  info.set_device_performance(qpb::ULTRA_HIGH);
  EXPECT_EQ(serialized(info),
            bytes({0x18, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));

  // Declared out of numeric order, and the descriptor keeps that order.
  const EnumDescriptor* performance = qpb::ABTestDevicePerformance_descriptor();
  ASSERT_EQ(performance->value_count(), 5);
  EXPECT_EQ(performance->value(3)->number(), 100);
  EXPECT_EQ(performance->value(4)->number(), -5);
}

TEST(SchemaWireTest, PackedListIsOneLengthDelimitedRun) {
  qpb::ImeDictItem item;
  item.add_tags(1);
  item.add_tags(2);
  item.add_tags(300);
  item.add_weight(1.0f);
  EXPECT_EQ(serialized(item),
            bytes({0x6A, 0x04, 0x01, 0x02, 0xAC, 0x02, 0x72, 0x04, 0x00, 0x00, 0x80, 0x3F}));
}

TEST(SchemaWireTest, Proto2ListNotMarkedPackedStaysOneKeyPerElement) {
  Command command;
  command.add_gray_last_num(1);
  command.add_gray_last_num(2);
  EXPECT_EQ(serialized(command), bytes({0x28, 0x01, 0x28, 0x02}));
}

TEST(SchemaWireTest, MapRoundTrips) {
  qpb::ABTestHitDetailInfo info;
  auto* params = info.add_client_item()->mutable_params();
  (*params)["layer"] = "7";
  (*params)[""] = "";

  qpb::ABTestHitDetailInfo copy;
  ASSERT_TRUE(copy.ParseFromString(serialized(info)));
  ASSERT_EQ(copy.client_item_size(), 1);
  EXPECT_EQ(copy.client_item(0).params().size(), 2u);
  EXPECT_EQ(copy.client_item(0).params().at("layer"), "7");
  EXPECT_TRUE(copy.client_item(0).params().contains(""));
}

TEST(SchemaWireTest, Proto3OptionalZeroIsStillWritten) {
  QLDeviceSync::GetMatchCodeReq request;
  request.set_uin(0);
  EXPECT_EQ(serialized(request), bytes({0x08, 0x00}));

  QLDeviceSync::GetMatchCodeRsp response;
  response.set_match_code("");
  EXPECT_EQ(serialized(response), bytes({0x12, 0x00}));
}

TEST(SchemaWireTest, EmptyMessagesEncodeToNothing) {
  for (const char* name : {"QLSupportEmojiRequest", "QLDeviceSync.ReleaseMatchCodeOrBindRsp",
                           "QLDeviceSync.GetBoundDeviceListReq",
                           "com.norvane.quillo.pb.CmdMultiTurnReq", "UpdateKBCommandsRsp"}) {
    SCOPED_TRACE(name);
    const Descriptor* type = pool().FindMessageTypeByName(name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->field_count(), 0);
    const Message* prototype = MessageFactory::generated_factory()->GetPrototype(type);
    EXPECT_EQ(serialized(*prototype), "");
  }
}

TEST(SchemaWireTest, MissingRequiredFieldLeavesMessageIncomplete) {
  QuilloCommunication envelope;
  EXPECT_EQ(envelope.type(), SayHelloRequest);  // no value 0: the first one is the default
  envelope.set_type(EmitEmojiRequest);
  envelope.set_body("x");
  EXPECT_FALSE(envelope.IsInitialized());
  envelope.set_requestid(7);
  EXPECT_TRUE(envelope.IsInitialized());

  // Reading data that lacks a required field fails instead of yielding a half message.
  QuilloCommunication read;
  EXPECT_FALSE(read.ParseFromString(bytes({0x08, 0x05, 0x12, 0x01, 'x'})));

  // Nested too: the response's required header has a required text of its own.
  FYVoiceUpload::ImeVoiceTransResponse response;
  response.mutable_baseresponse()->set_ret(0);
  EXPECT_FALSE(response.IsInitialized());
  response.mutable_baseresponse()->mutable_errmsg();
  EXPECT_TRUE(response.IsInitialized());
}

TEST(SchemaWireTest, SparseEnumerationsAcceptOnlyTheirNumbers) {
  EXPECT_TRUE(FYBookVideoScene_IsValid(4));
  EXPECT_FALSE(FYBookVideoScene_IsValid(3));
  EXPECT_FALSE(FYBookVideoScene_IsValid(0));
  EXPECT_TRUE(CommandType_IsValid(100));
  EXPECT_FALSE(CommandType_IsValid(7));
  EXPECT_TRUE(qpb::DictType_IsValid(106));
  EXPECT_FALSE(qpb::DictType_IsValid(11));
  EXPECT_FALSE(QuilloCommandType_IsValid(0));
}

TEST(SchemaWireTest, TypesResolveAcrossPackagesAndIntoNestedScopes) {
  const Descriptor* request = FYVoiceUpload::ImeVoiceTransRequest::descriptor();
  EXPECT_EQ(request->FindFieldByName("BaseRequest")->message_type()->full_name(),
            "FYBase.BaseRequest");
  EXPECT_EQ(qpb::ABTestHitedInfo::descriptor()->FindFieldByNumber(3)->enum_type()->full_name(),
            "com.norvane.quillo.pb.ABTestHitedInfo.HitType");
  const FieldDescriptor* params =
      qpb::ABTestHitDetailInfo::Item::descriptor()->FindFieldByNumber(2);
  ASSERT_NE(params, nullptr);
  EXPECT_TRUE(params->is_map());
  EXPECT_EQ(params->name(), "params");
  // The enumeration-only files sit in the report package, so the feature type's
  // global value `App` and the report's enumeration `App` are different names.
  EXPECT_EQ(tpb::App_descriptor()->full_name(), "com.norvane.tanix.pb.App");
  EXPECT_EQ(pool().FindEnumValueByName("App")->type()->full_name(), "FeaturesType");
  EXPECT_EQ(pool().FindEnumTypeByName("com.norvane.tanix.pb.QlKeyboardType")->file()->name(),
            "QlKeyboardType.proto");
}

// Names are the wire contract, misspellings included.
struct NamedValue {
  std::string_view enumeration;
  int number;
  std::string_view name;
};

void PrintTo(const NamedValue& value, std::ostream* out) {
  *out << value.enumeration << " " << value.number << " " << value.name;
}

class SchemaValueTest : public testing::TestWithParam<NamedValue> {};

TEST_P(SchemaValueTest, NumberAndNameMatch) {
  const NamedValue& value = GetParam();
  const EnumDescriptor* type = pool().FindEnumTypeByName(std::string(value.enumeration));
  ASSERT_NE(type, nullptr) << value.enumeration;
  const auto* byNumber = type->FindValueByNumber(value.number);
  ASSERT_NE(byNumber, nullptr) << value.name;
  EXPECT_EQ(byNumber->name(), value.name);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SchemaValueTest,
    testing::Values(
        NamedValue{"com.norvane.tanix.pb.QlExceptionType", 34, "exception_iOS_background_alive"},
        NamedValue{"com.norvane.tanix.pb.QlExceptionType", 41, "ai_search_cost"},
        NamedValue{"com.norvane.tanix.pb.QlExceptionType", 45, "dox_upload"},
        NamedValue{"com.norvane.tanix.pb.QlStatAppCommonAction", 158,
                   "ql_app_action_canel_choose_keyboard"},
        NamedValue{"com.norvane.tanix.pb.QlStatAppCommonAction", 221, "ql_app_action_click_check"},
        NamedValue{"com.norvane.tanix.pb.QlStatAppCommonScene", 49,
                   "ql_app_scene_subpage_smart_switch_scan_expired_QR_code"},
        NamedValue{"com.norvane.tanix.pb.QlStatAppCommonScene", 70,
                   "ql_app_scene_keyboard_notify_transfer_file_panel"},
        NamedValue{"com.norvane.tanix.pb.QlAiQuestionAction", 52,
                   "ql_ai_question_action_click_open"},
        NamedValue{"com.norvane.tanix.pb.GuAiChatAction", 18,
                   "gu_ai_chat_action_exposure_polish_Input_box"},
        NamedValue{"com.norvane.tanix.pb.QlStatEmojiExitSource", 1,
                   "ql_emoj_exit_source_click_symble"},
        NamedValue{"QLDeviceSync.Platform", 2, "IOS"}, NamedValue{"QuilloEmojiFileType", 1, "GIF"},
        NamedValue{"com.norvane.quillo.pb.ABTestDevicePerformance", -5, "ULTRA_HIGH"}));

}  // namespace
