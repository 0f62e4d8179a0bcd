<%@ Language=VBScript %>
<html>
<head><title>Order status</title></head>
<body>
<h1>Your order</h1>
<p>Order number: <%= Request("order") %></p>
<script language="JavaScript">
function check() { return true; }
</script>
<p>Thank you for shopping with us.</p>
</body>
</html>
