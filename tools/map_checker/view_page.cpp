// index.html of the automatic views: a static page that lays itself out
// from two embedded JSON values, the views and the check's report, so that
// it opens from the disk in any browser without a server. The checks of the
// pictures, made once they are taken, come from view_checks.js beside it
// (a script element, which a page opened from the disk may load): a
// picture that shows nothing of its subject is marked with the cause.
#include <string>

#include "report_format.h"
#include "view_plan.h"

namespace MapChecker {
namespace {

const char* const kPageHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Map preview</title>
<style>
body { font-family: sans-serif; background: #222; color: #ddd; margin: 1em; }
h1 { font-size: 1.3em; }
.views { display: flex; flex-wrap: wrap; gap: 1em; }
.view { background: #333; padding: 0.5em; width: 480px; }
.view img { width: 480px; display: block; }
.caption { margin: 0.3em 0; font-weight: bold; }
.finding { font-size: 0.85em; margin: 0.2em 0; }
.fatal { color: #f77; } .warning { color: #fc6; } .clean { color: #8c8; font-size: 0.85em; }
#error { color: #f77; font-weight: bold; }
.view.empty { outline: 3px solid #e33; }
.nosubject { color: #f77; font-weight: bold; margin: 0.3em 0; }
</style>
<script src="view_checks.js"></script>
</head>
<body>
<h1>Map preview of <span id="directory"></span></h1>
<p id="summary"></p>
<p id="error"></p>
<div id="mapFindings"></div>
<div class="views" id="views"></div>
<script>
window.addEventListener('error', e => {
  document.body.dataset.errors = (document.body.dataset.errors || '') + e.message + '; ';
});
)";

const char* const kPageScript = R"(
function text(tag, className, content) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  element.textContent = content;
  return element;
}
// The files of group g: those named by MapModel<g>Path, ...Path<j> or ...LODPath.
function groupFiles(g) {
  const pattern = new RegExp('^MapModel' + g + '(Path\\d*|LODPath)$');
  return report.files.filter(f => f.roles.some(r => pattern.test(r)));
}
document.getElementById('directory').textContent = report.gameDirectory;
document.getElementById('summary').textContent = 'Map check: ' + report.fatal + ' fatal, ' + report.warnings +
    ' warnings; ' + report.totals.triangles + ' triangles in ' + report.totals.files + ' files.' +
    (groupsLeftOut ? ' ' + groupsLeftOut + ' smaller groups have no view.' : '');
if (typeof previewError === 'string' && previewError) document.getElementById('error').textContent = previewError;
// Findings of the map as a whole (the settings, the map definition: its
// address space among them), which no group's view shows.
for (const file of report.files.filter(f => f.kind === 'settings' || f.kind === 'map definition')) {
  for (const finding of file.findings) {
    document.getElementById('mapFindings').appendChild(text('div', 'finding ' + finding.severity, file.path + ': ' +
                                                             finding.severity + ' ' + finding.code + ': ' + finding.message));
  }
}
const checks = typeof viewChecks === 'object' ? viewChecks : {};
let loaded = 0, failed = 0, empty = 0;
const container = document.getElementById('views');
for (const view of views) {
  const card = text('div', 'view', '');
  const image = document.createElement('img');
  image.alt = view.label;
  image.onload = () => { ++loaded; document.body.dataset.picturesLoaded = loaded; };
  image.onerror = () => { ++failed; document.body.dataset.picturesFailed = failed; };
  image.src = view.name;
  card.appendChild(image);
  card.appendChild(text('div', 'caption', view.label));
  const check = checks[view.name];
  if (check && !check.shows) {
    card.className = 'view empty';
    card.appendChild(text('div', 'nosubject', 'No subject in this picture: ' + check.cause));
    ++empty;
  }
  if (view.group >= 0) {
    let any = false;
    for (const file of groupFiles(view.group)) {
      for (const finding of file.findings) {
        card.appendChild(text('div', 'finding ' + finding.severity, file.path + ': ' + finding.severity + ' ' +
                              finding.code + ': ' + finding.message));
        any = true;
      }
    }
    if (!any) card.appendChild(text('div', 'clean', 'no findings for this group\'s files'));
  }
  container.appendChild(card);
}
document.body.dataset.pictures = views.length;
document.body.dataset.emptyViews = empty;
if (empty) {
  document.getElementById('summary').textContent += ' ' + empty + ' of the pictures show nothing of their subject (marked).';
}
</script>
</body>
</html>
)";

// A JSON text that may stand inside a <script> element.
std::string ForScript(std::string json)
{
    for (std::size_t at = 0; (at = json.find("</", at)) != std::string::npos; at += 3) json.replace(at, 2, "<\\/");
    return json;
}

std::string ViewsJson(const ViewPlan& plan)
{
    std::string out = "[";
    const std::vector<PlannedView>* lists[] = {&plan.overviewViews, &plan.views, &plan.collisionViews};
    bool first = true;
    for (const auto* list : lists) {
        for (const PlannedView& view : *list) {
            out += std::string(first ? "" : ",") + "\n  {\"name\": " + JsonString(view.name) +
                   ", \"label\": " + JsonString(view.label) + ", \"group\": " + std::to_string(view.group) + "}";
            first = false;
        }
    }
    return out + "\n]";
}

}  // namespace

std::string FormatViewPage(const CheckReport& report, const ViewPlan& plan)
{
    return std::string(kPageHead) + "const views = " + ForScript(ViewsJson(plan)) + ";\nconst report = " +
           ForScript(FormatJsonReport(report)) + ";\nconst groupsLeftOut = " + std::to_string(plan.groupsLeftOut) +
           ";\n" + kPageScript;
}

}  // namespace MapChecker
