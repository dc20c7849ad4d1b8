// GGUF chat templates are rendered with Jinja by the runtimes: a template that reaches Python's
// internals is dangerous, whatever key of the template family holds it.
#include <gtest/gtest.h>

#include "gguf/gguf_builder.h"
#include "gguf/gguf_scan.h"
#include "scan/scan_files.h"
#include "test_support.h"

namespace tarnwick {
namespace {

TEST(ChatTemplate, ConstructsThatReachPythonInternalsAreDangerous) {
  struct TemplateCase {
    const char* key;
    const char* text;
    const char* findings;
  };
  const std::vector<TemplateCase> cases = {
      {"tokenizer.chat_template",
       "{% for m in messages %}<|{{ m.role }}|>{{ m.content }}{% endfor %}{% if add_generation_prompt %}<|assistant|>{% endif %}",
       ""},
      {"tokenizer.chat_template", "Please evaluate the answer. It is important to execute the plan. photos.jpg", ""},
      {"tokenizer.chat_template", "{{ cycler.__init__.__globals__.os.popen('id').read() }}",
       "dangerous: metadata tokenizer.chat_template holds the template construct \"__globals__\", which reaches "
       "Python's internals\n"
       "dangerous: metadata tokenizer.chat_template holds the template construct \"__init__\", which reaches Python's "
       "internals\n"
       "dangerous: metadata tokenizer.chat_template holds the template construct \"os.\", which reaches Python's "
       "internals\n"
       "dangerous: metadata tokenizer.chat_template holds the template construct \"popen\", which reaches Python's "
       "internals\n"},
      {"tokenizer.chat_template.tool_use", "{{ ''.__class__.__mro__[1].__subclasses__() }}",
       "dangerous: metadata tokenizer.chat_template.tool_use holds the template construct \"__class__\", which reaches "
       "Python's internals\n"
       "dangerous: metadata tokenizer.chat_template.tool_use holds the template construct \"__subclasses__\", which "
       "reaches Python's internals\n"
       "dangerous: metadata tokenizer.chat_template.tool_use holds the template construct \"__mro__\", which reaches "
       "Python's internals\n"},
      {"tokenizer.chat_template.rag", "{{ self.__base__ }}{{ x.__builtins__ }}{% import 'm' as m %}{{ eval(1) }}{{ exec }}",
       "dangerous: metadata tokenizer.chat_template.rag holds the template construct \"__builtins__\", which reaches "
       "Python's internals\n"
       "dangerous: metadata tokenizer.chat_template.rag holds the template construct \"__base__\", which reaches "
       "Python's internals\n"
       "dangerous: metadata tokenizer.chat_template.rag holds the template construct \"import\", which reaches "
       "Python's internals\n"
       "dangerous: metadata tokenizer.chat_template.rag holds the template construct \"eval\", which reaches Python's "
       "internals\n"
       "dangerous: metadata tokenizer.chat_template.rag holds the template construct \"exec\", which reaches Python's "
       "internals\n"},
      // Other keys are not templates.
      {"general.description", "{{ x.__class__ }}", ""},
      {"tokenizer.chat_templates", "{{ x.__class__ }}", ""},
  };
  testing::TempDir dir;
  for (const TemplateCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + ": " + c.text);
    std::string gguf = testing::GgufBuilder()
                           .kv_string("general.architecture", "llama")
                           .kv_string(c.key, c.text)
                           .tensor("w", {4}, 0, std::string(16, 'x'))
                           .build();
    testing::PolicyScan result = testing::scan_under(dir.write("m.gguf", gguf));
    EXPECT_EQ(result.scan.format, "gguf");
    EXPECT_EQ(testing::findings_of(result.scan), c.findings);
    EXPECT_EQ(result.verdict, *c.findings == '\0' ? "safe" : "unsafe");
  }
}

TEST(ChatTemplate, ATemplateThatIsNoStringIsNotChecked) {
  testing::TempDir dir;
  testing::GgufBuilder builder;
  std::string gguf = builder.kv_u32("tokenizer.chat_template", 7).build();
  testing::PolicyScan result = testing::scan_under(dir.write("m.gguf", gguf));
  EXPECT_EQ(testing::findings_of(result.scan),
            "unknown: metadata tokenizer.chat_template is not a string; its template is not checked\n");
  EXPECT_EQ(result.verdict, "unsafe");
}

}  // namespace
}  // namespace tarnwick
