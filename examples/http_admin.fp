# Requests for the administration pages of a web application.
# Situation 1001: a GET of /admin/ with an HTTP/1.x request line.
# Situation 1002: any request whose header block has more than 32 lines;
#                 the variable lines counts them while the stream goes by.
(?I{1001})GET\ /admin/[^\ \r\n]*\ HTTP/1\.[01]\r\n
|(?I{1002})(GET|POST|HEAD)\ [^\r\n]*\r\n(?[lines@8 = 0])([^\r\n]+\r\n(?[lines@8 += 1])){33}
